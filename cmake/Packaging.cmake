# What `cmake --install` puts where, and the Debian package that `cpack -G DEB` builds from it
# (tools/build-deb does both). Included only with the window: the package is the desktop tool.

include(GNUInstallDirs)

set(ORVEL_PACKAGE_NAME orvel-webhook-tester)
set(ORVEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${ORVEL_PACKAGE_NAME})

install(TARGETS OrvelWebhookTester orvel-webhook-tester-run orvel-sample-consumer
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ORVEL_PACKAGE_NAME}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ORVEL_PACKAGE_NAME}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# README.md links into docs/, so the documentation keeps that layout (images included, once
# there are any).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ORVEL_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${ORVEL_DOC_DIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.svg" PATTERN "*.json")

set(ORVEL_PACKAGE_MAINTAINER "OrvelWebhookTester developers <webhook-tester@orvelpos.invalid>"
    CACHE STRING "Maintainer field of the Debian package: \"Name <e-mail>\"")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORVEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OrvelPOS")
set(CPACK_PACKAGE_CONTACT "${ORVEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test tool for OrvelPOS webhook consumers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Runtime dependencies come from the linked libraries (dpkg-shlibdeps, package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The long description under the summary line; "." separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "OrvelWebhookTester plays the till for developers of OrvelPOS webhook
consumers: it sends signed JSON events (startSession, scanCode,
addSessionLine, ..., completeSession, external payments with polling),
shows the raw request and response, checks the consumer's answer
(signature, Content-Type, JSON), reports a wrong answer back to the
consumer, and applies what the consumer asked for: discounts, added and
deleted lines, dialogs, scan results, receipt footers and payment states.
.
orvel-webhook-tester-run runs a sale recorded in the window as a
scenario against a consumer without a window, for CI: one line per
step, a JUnit report, exit status 0 only when every answer was right.
.
The package also holds orvel-sample-consumer, a scriptable reference
consumer with a built-in demo scenario.")

include(CPack)
