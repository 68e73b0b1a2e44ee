// Feeds arbitrary header blocks to the response parser. The first byte picks where the block
// ends and the body begins, so both parts get varied.
#include "HTTPResponseParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = input.empty() ? 0 : (static_cast<std::size_t>(data[0]) * input.size()) / 255;
    const std::string block = input.substr(0, split);
    const std::string body = input.substr(split);

    OrvCurl::HTTPResponseParser parser;
    const bool parsed = parser.Parse(block, body);
    if (parser.GetBody() != body)
        std::abort();
    if (!parsed) {
        if (parser.GetResult() != -1 || !parser.GetHeaders().empty() || !parser.GetReasonPhrase().empty())
            std::abort();
        return 0;
    }
    if (parser.GetResult() < 100 || parser.GetResult() > 999)
        std::abort();
    for (const auto& header : parser.GetHeaders()) {
        if (header.first.empty() || header.first.find_first_of(" \t\r\n:") != std::string::npos)
            std::abort();
        // Every listed header is found again under any letter case of its name.
        std::string upper = header.first;
        for (char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (parser.GetHeader(upper) != header.second)
            std::abort();
    }
    return 0;
}
