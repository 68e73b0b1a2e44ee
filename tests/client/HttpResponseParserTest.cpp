#include "HTTPResponseParser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using OrvCurl::HTTPResponseParser;

TEST(HttpResponseParser, ReadsStatusHeadersAndBody) {
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\n"
                             "X-Orvel-Signature: abc=\r\n"
                             "Content-Type:application/json\r\n"
                             "Date:   Tue, 08 Dec 2026 15:39:14 GMT  \t\r\n"
                             "Location: http://127.0.0.1:8080/next\r\n"
                             "Content-Length: 2\r\n"
                             "\r\n",
                             "{}"));
    EXPECT_EQ(parser.GetResult(), 200);
    EXPECT_EQ(parser.GetReasonPhrase(), "OK");
    EXPECT_EQ(parser.GetBody(), "{}");
    const std::map<std::string, std::string> expected = {
        {"Content-Length", "2"},
        {"Content-Type", "application/json"},
        {"Date", "Tue, 08 Dec 2026 15:39:14 GMT"},
        {"Location", "http://127.0.0.1:8080/next"},
        {"X-Orvel-Signature", "abc="},
    };
    EXPECT_EQ(parser.GetHeaders(), expected);
    // Ascending byte order: upper-case names before lower-case ones.
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\nb: 1\r\nA: 2\r\na2: 3\r\nZ: 4\r\n\r\n", ""));
    std::vector<std::string> names;
    for (const auto& header : parser.GetHeaders())
        names.push_back(header.first);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "Z", "a2", "b"}));
}

TEST(HttpResponseParser, HeaderLookupIgnoresLetterCase) {
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n", ""));
    EXPECT_EQ(parser.GetHeader("Content-Type"), "application/json");
    EXPECT_EQ(parser.GetHeader("content-type"), "application/json");
    EXPECT_EQ(parser.GetHeader("CONTENT-TYPE"), "application/json");
    EXPECT_EQ(parser.GetHeader("Content-Typ"), "");
    EXPECT_EQ(parser.GetHeader("X-Orvel-Signature"), "");
    // A present but empty header reads like an absent one, yet is listed.
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\nX-Orvel-Signature:\r\n\r\n", ""));
    EXPECT_EQ(parser.GetHeader("x-orvel-signature"), "");
    EXPECT_EQ(parser.GetHeaders().count("X-Orvel-Signature"), 1u);
}

TEST(HttpResponseParser, RepeatedHeaderKeepsItsLastValue) {
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\n"
                             "X-Orvel-Signature: first\r\n"
                             "Set-Cookie: a=1\r\n"
                             "x-orvel-signature: second\r\n"
                             "Set-Cookie: b=2\r\n"
                             "\r\n",
                             ""));
    EXPECT_EQ(parser.GetHeader("X-Orvel-Signature"), "second");
    EXPECT_EQ(parser.GetHeader("Set-Cookie"), "b=2");
    // One entry per name whatever its letter case, under the spelling that came last.
    EXPECT_EQ(parser.GetHeaders().size(), 2u);
    EXPECT_EQ(parser.GetHeaders().count("x-orvel-signature"), 1u);
    EXPECT_EQ(parser.GetHeaders().count("X-Orvel-Signature"), 0u);
}

TEST(HttpResponseParser, LastResponseBlockCounts) {
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 100 Continue\r\n"
                             "X-Interim: yes\r\n"
                             "\r\n"
                             "HTTP/1.1 400 Bad Request\r\n"
                             "Content-Type: application/json\r\n"
                             "\r\n",
                             "{\"error\":{}}"));
    EXPECT_EQ(parser.GetResult(), 400);
    EXPECT_EQ(parser.GetReasonPhrase(), "Bad Request");
    EXPECT_EQ(parser.GetHeader("X-Interim"), "");
    EXPECT_EQ(parser.GetHeaders().size(), 1u);

    // Trailers after the final block carry no status line and are not headers of the answer.
    ASSERT_TRUE(
        parser.Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nX-Trailer: t\r\n\r\n", "{}"));
    EXPECT_EQ(parser.GetResult(), 200);
    EXPECT_EQ(parser.GetHeader("X-Trailer"), "");
    EXPECT_EQ(parser.GetHeader("Transfer-Encoding"), "chunked");
}

TEST(HttpResponseParser, StatusLineForms) {
    struct Case {
        std::string line;
        int status;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.1 200 OK", 200, "OK"},
        {"HTTP/1.0 404 Not Found", 404, "Not Found"},
        {"HTTP/2 200", 200, ""},
        {"HTTP/2 201 ", 201, ""},
        {"HTTP/3 500 Internal Server Error", 500, "Internal Server Error"},
        {"HTTP/1.1 299 Quite  spaced   reason", 299, "Quite  spaced   reason"},
        {"HTTP/1.1 100 Continue", 100, "Continue"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        HTTPResponseParser parser;
        ASSERT_TRUE(parser.Parse(c.line + "\r\nA: b\r\n\r\n", "body"));
        EXPECT_EQ(parser.GetResult(), c.status);
        EXPECT_EQ(parser.GetReasonPhrase(), c.reason);
        EXPECT_EQ(parser.GetHeader("a"), "b");
    }
    // Bare line feeds end lines too.
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 204 No Content\nX-A: 1\n\n", ""));
    EXPECT_EQ(parser.GetResult(), 204);
    EXPECT_EQ(parser.GetReasonPhrase(), "No Content");
    EXPECT_EQ(parser.GetHeader("X-A"), "1");
}

TEST(HttpResponseParser, InvalidStatusLineGivesNoResult) {
    const std::vector<std::string> blocks = {
        "",
        "\r\n\r\n",
        "garbage",
        "ICY 200 OK\r\n\r\n",
        "http/1.1 200 OK\r\n\r\n",
        "HTTP/1.1 20 OK\r\n\r\n",
        "HTTP/1.1 2000 OK\r\n\r\n",
        "HTTP/1.1 099 Low\r\n\r\n",
        "HTTP/1.1  200 OK\r\n\r\n",
        "HTTP/1.1 abc OK\r\n\r\n",
        "HTTP/ 200 OK\r\n\r\n",
        "HTTP/1. 200 OK\r\n\r\n",
        "HTTP/1.1\r\n\r\n",
        "HTTP/1.1 200OK\r\n\r\n",
        "Content-Type: application/json\r\n\r\n",
        // The final block decides, even after a valid interim one.
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 xyz\r\n\r\n",
    };
    for (const std::string& block : blocks) {
        SCOPED_TRACE(block);
        HTTPResponseParser parser;
        ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\nX-Old: 1\r\n\r\n", "old"));
        EXPECT_FALSE(parser.Parse(block + "X-New: 2\r\n", "new"));
        EXPECT_EQ(parser.GetResult(), -1);
        EXPECT_EQ(parser.GetReasonPhrase(), "");
        EXPECT_TRUE(parser.GetHeaders().empty());
        EXPECT_EQ(parser.GetBody(), "new");
    }
}

TEST(HttpResponseParser, MalformedHeaderLinesAreSkipped) {
    HTTPResponseParser parser;
    ASSERT_TRUE(parser.Parse("HTTP/1.1 200 OK\r\n"
                             "Good: 1\r\n"
                             "  folded continuation of Good\r\n"
                             "\tanother: folded\r\n"
                             "NoColonHere\r\n"
                             ": no name\r\n"
                             "Bad Name: spaced\r\n"
                             "Bad(Name): 2\r\n"
                             "Empty-Value:   \r\n"
                             "X-Url: a:b:c\r\n"
                             "\r\n",
                             ""));
    const std::map<std::string, std::string> expected = {
        {"Empty-Value", ""},
        {"Good", "1"},
        {"X-Url", "a:b:c"},
    };
    EXPECT_EQ(parser.GetHeaders(), expected);
}

} // namespace
