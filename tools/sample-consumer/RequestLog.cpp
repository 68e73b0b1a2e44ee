#include "RequestLog.h"

#include "JsonText.h"

namespace orvelconsumer {

void RequestLog::Add(const Request& request) {
    Json::Value entry(Json::objectValue);
    entry["event"] = request.event;
    entry["path"] = request.path;
    entry["signatureValid"] = request.signatureValid;
    entry["status"] = request.status;
    if (request.errorCode)
        entry["errorCode"] = *request.errorCode;
    Json::Value headers(Json::objectValue);
    for (const auto& [name, value] : request.headers)
        headers[name] = value;
    entry["headers"] = headers;
    Json::Value body;
    std::string ignored;
    if (!JsonText::Parse(request.body, body, ignored))
        body = request.body;
    entry["body"] = body;

    std::lock_guard<std::mutex> lock(mutex_);
    entry["n"] = ++count_;
    out_ << Line(entry) << '\n';
    out_.flush();
    entries_.append(std::move(entry));
}

Json::Value RequestLog::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

void RequestLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_ = Json::Value(Json::arrayValue);
}

std::string RequestLog::Line(const Json::Value& entry) {
    std::string line = "{";
    for (const char* key :
         {"n", "event", "path", "signatureValid", "status", "errorCode", "headers", "body"}) {
        if (!entry.isMember(key))
            continue;
        if (line.size() > 1)
            line += ',';
        line += JsonText::Write(Json::Value(key)) + ":" + JsonText::Write(entry[key]);
    }
    return line + "}";
}

} // namespace orvelconsumer
