#pragma once

#include <httplib.h>

#include <string>

namespace orvelconsumer {

// Writes bytes straight onto the connection of a request and closes it for writing, for the
// answers that the HTTP library would otherwise correct (it adds "Content-Type: text/plain" to
// every body without a type). The library's own answer that follows fails and the connection
// ends, so the client gets exactly these bytes.
class RawResponse {
public:
    static bool Send(const httplib::Request& request, const std::string& bytes);

    static std::string ReasonPhrase(int status);
};

} // namespace orvelconsumer
