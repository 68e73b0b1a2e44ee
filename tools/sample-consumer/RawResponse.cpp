#include "RawResponse.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace orvelconsumer {

namespace {

bool SameEndpoint(const sockaddr_storage& address, const std::string& ip, int port) {
    char text[INET6_ADDRSTRLEN] = {};
    int actualPort = -1;
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        actualPort = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        actualPort = ntohs(in6->sin6_port);
    } else {
        return false;
    }
    return actualPort == port && ip == text;
}

// The library does not hand out the socket of a request; find it among the open descriptors
// by its two endpoints, which no other connection shares.
int SocketOf(const httplib::Request& request) {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int found = -1;
    while (dirent* item = readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(item->d_name, &end, 10);
        if (end == item->d_name || *end != '\0')
            continue;
        sockaddr_storage local{};
        sockaddr_storage remote{};
        socklen_t localSize = sizeof local;
        socklen_t remoteSize = sizeof remote;
        const int socket = static_cast<int>(fd);
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            getpeername(socket, reinterpret_cast<sockaddr*>(&remote), &remoteSize) != 0)
            continue;
        if (SameEndpoint(local, request.local_addr, request.local_port) &&
            SameEndpoint(remote, request.remote_addr, request.remote_port)) {
            found = socket;
            break;
        }
    }
    closedir(folder);
    return found;
}

bool WriteAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool RawResponse::Send(const httplib::Request& request, const std::string& bytes) {
    if (request.ssl) {
        // The library only lends the TLS session read-only, but this thread owns the connection
        // for the length of the request.
        SSL* ssl = const_cast<SSL*>(request.ssl);
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = SSL_write(ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        SSL_shutdown(ssl);
        ::shutdown(SSL_get_fd(ssl), SHUT_WR);
        return true;
    }
    const int socket = SocketOf(request);
    if (socket < 0 || !WriteAll(socket, bytes))
        return false;
    ::shutdown(socket, SHUT_WR);
    return true;
}

std::string RawResponse::ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 409:
        return "Conflict";
    case 422:
        return "Unprocessable Entity";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

} // namespace orvelconsumer
