#include "BaseUrl.h"

#include <algorithm>
#include <cctype>

namespace Tarn {
namespace Webhooks {

namespace {

const std::string kSchemeEnd = "://";

bool IsControl(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
}

// A scheme as RFC 3986 writes one: a letter, then letters, digits, "+", "-" or ".".
bool IsScheme(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    return std::all_of(text.begin(), text.end(), [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == '+' || ch == '-' || ch == '.';
    });
}

// Where the part after "scheme://" begins; 0 when the text has no scheme.
std::size_t AfterScheme(const std::string& url) {
    const std::size_t end = url.find(kSchemeEnd);
    return end != std::string::npos && IsScheme(url.substr(0, end)) ? end + kSchemeEnd.size() : 0;
}

} // namespace

std::string BaseUrlProblem(const std::string& baseUrl) {
    if (baseUrl.empty())
        return "The base URL is empty: enter the address of your consumer, such as "
               "https://consumer.example/webhooks/.";
    if (std::any_of(baseUrl.begin(), baseUrl.end(), IsControl))
        return "The base URL must not contain a control character (a NUL byte, a tab, a line break): "
               "the request would not go to the address shown.";
    const std::size_t rest = AfterScheme(baseUrl);
    if (rest > 0) {
        const std::string scheme = baseUrl.substr(0, rest - kSchemeEnd.size());
        if (scheme != "http" && scheme != "https")
            return "The base URL must begin with http:// or https:// (in lower case), not " + scheme +
                   "://: the tester sends its events over HTTP only.";
    }
    const std::size_t authorityEnd = baseUrl.find_first_of("/?#", rest);
    const std::string authority = baseUrl.substr(rest, authorityEnd - rest);
    if (authority.find('@') != std::string::npos)
        return "The base URL must not contain a user name or password (…@): they would be sent as "
               "Basic authentication, in clear over http; the consumer knows the tester by its signature.";
    if (baseUrl.find('?', rest) != std::string::npos)
        return "The base URL must not contain a query (?…): the event name is added to its path.";
    if (baseUrl.find('#', rest) != std::string::npos)
        return "The base URL must not contain a fragment (#…): the event name is added to its path.";
    if (authority.empty() || authority[0] == ':')
        return "The base URL names no host: enter the address of your consumer, such as "
               "https://consumer.example/webhooks/.";
    return "";
}

std::string UrlWithoutPassword(const std::string& url) {
    const std::size_t rest = AfterScheme(url);
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", rest), url.size());
    const std::size_t at = url.rfind('@', authorityEnd);
    if (at == std::string::npos || at < rest)
        return url;
    const std::size_t colon = url.find(':', rest);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

} // namespace Webhooks
} // namespace Tarn
