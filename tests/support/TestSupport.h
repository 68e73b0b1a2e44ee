#pragma once

#include <json/value.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Waits, briefly sleeping, until condition holds; false when it still does not after half a
// minute (a hang shows as a failure, not as a stuck test).
bool Eventually(const std::function<bool()>& condition);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder);

// The JSON value of a text, read with jsoncpp apart from the code under test; none (and the
// reader's complaint in errors) for a text that is no JSON.
std::optional<Json::Value> TryParseJson(const std::string& text, std::string& errors);
// The same, for a text that must be JSON: one that is not fails the calling test and gives null.
Json::Value ParseJson(const std::string& text);

// A loopback port where nobody listens: taken from the system and let go again.
int UnusedLoopbackPort();

// A self-signed certificate for 127.0.0.1, valid for two days, made with the openssl command
// as folder's "cert.pem" and "key.pem". Returns openssl's complaint, empty when it worked.
std::string MakeSelfSignedCertificate(const TempDir& folder);

} // namespace testsupport
