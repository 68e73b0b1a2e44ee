#pragma once

// What a consumer's base URL may be: http or https, a host, a path, and nothing that would
// make the request go elsewhere than the address shown, or carry a password in clear.

#include <string>

namespace Tarn {
namespace Webhooks {

// Why the base URL cannot be used, in words for the user; empty when it can. A text without a
// scheme is read as the tester sends it, with "https://" in front.
std::string BaseUrlProblem(const std::string& baseUrl);

// url with the password of its user part (user:password@) replaced by "***": for the trace
// and the window, which must never show it.
std::string UrlWithoutPassword(const std::string& url);

} // namespace Webhooks
} // namespace Tarn
