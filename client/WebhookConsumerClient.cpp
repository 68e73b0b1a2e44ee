#include "WebhookConsumerClient.h"

#include "BaseUrl.h"
#include "OrvCrypt.h"
#include "OrvLib.h"
#include "ToJSON.h"
#include "WireFormat.h"

#include <json/value.h>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Tarn {
namespace Webhooks {

namespace {

const char* const UserAgent = "OrvelWebhookTester/1.14.0";
const char* const ErrorEventName = "error";

// The headers may be long (cookies, tracing), but not endless: beyond this the consumer is
// misbehaving and the exchange ends like an oversized body does.
constexpr std::size_t MaxResponseHeaders = 1024u * 1024u + 64u * 1024u;

// The debug folder holds this many trace files, reused in turn, so that a long polling session
// cannot fill the temporary folder. Traces are overwritten in place: on common file systems
// deleting a file or truncating it to zero costs milliseconds (block discard, flush on close),
// which every press would pay.
constexpr unsigned TraceSlots = 50;
// Used only when more clients than TraceSlots are alive at once.
constexpr unsigned MaxExtraTraceSlots = 1000;
// Trace files kept open (and locked) between clients: the whole ring, so that the newest
// traces stay side by side as they did when each client opened a file of its own.
constexpr std::size_t KeptTraceSlots = TraceSlots;
// A trace shows at most this much of each body.
constexpr std::size_t TraceBodyLimit = 256u * 1024u;

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The transfer handles of finished clients, reset and ready for the next one. An easy handle
// keeps the machinery libcurl sets up around its first transfer (the buffers), and a multi
// handle its wake-up socket pair, a visible part of a poll's exchange. No connection stays in
// a handle: every transfer is made with CURLOPT_FORBID_REUSE, so each exchange has a connection
// of its own, as with a fresh handle, and nothing can be sent twice on a stale one.
struct CurlPair {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
};

class CurlHandles {
public:
    static CurlHandles& Instance() {
        // Never destroyed: a client may outlive the other statics.
        static CurlHandles* const handles = new CurlHandles;
        return *handles;
    }

    CurlPair Take() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!idle_.empty()) {
                const CurlPair pair = idle_.back();
                idle_.pop_back();
                return pair;
            }
        }
        CurlPair pair{curl_easy_init(), curl_multi_init()};
        if (!pair.easy || !pair.multi) {
            Destroy(pair);
            return CurlPair();
        }
        return pair;
    }

    void Give(CurlPair pair) {
        if (!pair.easy)
            return;
        // Back to the defaults: nothing of this client's request is left for the next.
        curl_easy_reset(pair.easy);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (idle_.size() < MaxIdle) {
                idle_.push_back(pair);
                return;
            }
        }
        Destroy(pair);
    }

private:
    static void Destroy(const CurlPair& pair) {
        if (pair.easy)
            curl_easy_cleanup(pair.easy);
        if (pair.multi)
            curl_multi_cleanup(pair.multi);
    }

    // A chain of polls uses two at a time, a press one.
    static constexpr std::size_t MaxIdle = 4;
    std::mutex mutex_;
    std::vector<CurlPair> idle_;
};

// Runs the transfer of easy on multi until it ends or cancelled turns true (Cancel wakes the
// wait at once). Returns the transfer's code; cancelledInFlight tells a cancelled one.
CURLcode Perform(CURLM* multi, CURL* easy, const std::atomic<bool>& cancelled, bool& cancelledInFlight) {
    cancelledInFlight = false;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode code = CURLE_OK;
    for (;;) {
        if (cancelled) {
            cancelledInFlight = true;
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        CURLMcode step = curl_multi_perform(multi, &running);
        if (step == CURLM_OK && running == 0) {
            int left = 0;
            while (const CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                    code = message->data.result;
            break;
        }
        // The wait ends early when the transfer's own time-outs are due.
        if (step == CURLM_OK)
            step = curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        if (step != CURLM_OK) {
            code = step == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multi, easy);
    return code;
}

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F;
    });
}

// ---- debug traces ---------------------------------------------------------------------------

// The system's temporary folder as the environment names it (the variables
// std::filesystem::temp_directory_path reads, in its order), read without a file-system call:
// the trace pool compares it on every send to tell whether its files still belong.
std::string TempFolderSetting() {
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        if (const char* value = secure_getenv(name))
            return value;
    }
    return "/tmp";
}

// A folder of our own under the system's temporary folder: per user, so another account on
// the machine can neither read our traces nor plant files or links in our way. A temporary
// folder that is no folder makes the mkdir below fail.
std::string DebugFolder(uid_t user) {
    const std::string temp = TempFolderSetting();
    if (temp.empty())
        return std::string(); // as temp_directory_path, which refuses an empty name
    const std::string folder =
        (std::filesystem::path(temp) /
         ("OrvelWebhookTester-debug-" + std::to_string(static_cast<unsigned long>(user))))
            .string();
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != user)
        return std::string();
    if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0)
        return std::string();
    return folder;
}

// Opens the trace file at path and locks it for this client. A file locked by a live client
// (of this process or another) is refused, so two clients never write the same file; the lock
// goes with the client, the file and its trace stay for the user to read. size receives the
// file's current size.
int OpenTraceSlot(const std::string& path, uid_t user, std::size_t& size) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != user ||
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    size = static_cast<std::size_t>(info.st_size);
    return fd;
}

// Picks the next free trace slot in turn. Each process starts at its own place in the ring, so
// that concurrent testers overwrite each other's recent traces as late as possible.
int OpenNextTraceSlot(const std::string& folder, uid_t user, std::string& path, std::size_t& size) {
    static std::atomic<unsigned> next{static_cast<unsigned>(getpid()) % TraceSlots};
    auto slotPath = [&folder](unsigned slot) { return folder + "/trace-" + std::to_string(slot) + ".log"; };
    for (unsigned attempt = 0; attempt < TraceSlots; ++attempt) {
        const unsigned slot = next.fetch_add(1) % TraceSlots;
        const int fd = OpenTraceSlot(slotPath(slot), user, size);
        if (fd >= 0) {
            path = slotPath(slot);
            return fd;
        }
    }
    for (unsigned slot = TraceSlots; slot < TraceSlots + MaxExtraTraceSlots; ++slot) {
        const int fd = OpenTraceSlot(slotPath(slot), user, size);
        if (fd >= 0) {
            path = slotPath(slot);
            return fd;
        }
    }
    return -1;
}

struct TraceSlot {
    std::string path;
    int fd = -1;
    std::size_t size = 0;
    uint64_t era = 0; // the pool's era it was taken in
};

// Opening, locking and closing a trace file costs a press about as much as building its
// request. A finished client hands its file, still open and locked, to the next client. Up to
// KeptTraceSlots files are held and handed out oldest first, so the newest exchanges stay
// readable side by side; a client never gets a file that another live client holds.
class TraceSlotPool {
public:
    static TraceSlotPool& Instance() {
        // Never destroyed: a client may outlive the other statics.
        static TraceSlotPool* const pool = new TraceSlotPool;
        return *pool;
    }

    bool Take(TraceSlot& slot) {
        const std::string setting = TempFolderSetting();
        const uid_t user = geteuid();
        bool reused = false;
        std::vector<TraceSlot> elsewhere;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (era_ == 0 || setting != setting_ || user != user_) {
                // The debug folder is another one now: the files held are of no use any more,
                // and those still with clients are let go when they come back.
                elsewhere.assign(idle_.begin(), idle_.end());
                idle_.clear();
                inUse_ = 0;
                setting_ = setting;
                user_ = user;
                ++era_;
            }
            // Until the ring is held, each client opens one more file: that fills the rotation.
            if (idle_.size() + inUse_ >= KeptTraceSlots && !idle_.empty()) {
                slot = std::move(idle_.front());
                idle_.pop_front();
                reused = true;
            }
            ++inUse_;
            slot.era = era_;
        }
        for (const TraceSlot& old : elsewhere)
            close(old.fd);
        const uint64_t era = slot.era;
        if (reused) {
            // A file removed meanwhile (its folder cleaned up) shows nothing to the user.
            struct stat info {};
            if (fstat(slot.fd, &info) == 0 && info.st_nlink > 0) {
                slot.size = static_cast<std::size_t>(info.st_size);
                return true;
            }
            close(slot.fd);
        }
        slot = TraceSlot();
        slot.era = era;
        const std::string folder = DebugFolder(user);
        slot.fd = folder.empty() ? -1 : OpenNextTraceSlot(folder, user, slot.path, slot.size);
        if (slot.fd < 0) {
            Release(era);
            return false;
        }
        return true;
    }

    void Give(TraceSlot slot) {
        std::vector<int> surplus;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (slot.era != era_) {
                surplus.push_back(slot.fd);
            } else {
                --inUse_;
                idle_.push_back(std::move(slot));
                while (idle_.size() > KeptTraceSlots) {
                    surplus.push_back(idle_.front().fd);
                    idle_.pop_front();
                }
            }
        }
        for (int fd : surplus)
            close(fd); // releases the file; its content stays
    }

private:
    void Release(uint64_t era) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (era == era_)
            --inUse_;
    }

    std::mutex mutex_;
    std::string setting_; // TempFolderSetting() of the files held
    uid_t user_ = 0;
    uint64_t era_ = 0; // counts the changes of debug folder
    std::deque<TraceSlot> idle_;
    std::size_t inUse_ = 0; // files of this era with clients
};

bool WriteAll(int fd, const std::string& text, off_t offset) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = pwrite(fd, data, left, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

void AppendBody(std::string& trace, const std::string& body) {
    if (body.size() <= TraceBodyLimit) {
        trace += body;
    } else {
        trace.append(body, 0, TraceBodyLimit);
        trace += "\n[" + std::to_string(body.size() - TraceBodyLimit) + " more bytes not shown]";
    }
    trace += "\n";
}

// ---- transfer callbacks ---------------------------------------------------------------------

struct Transfer {
    std::string headerBlock;
    std::string body;
    bool bodyTooLarge = false;
    bool headersTooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (bytes > MAX_RESPONSE_BODY - transfer->body.size()) {
        transfer->bodyTooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    return bytes;
}

// libcurl's way to close a connection: into the client's finished connections.
int OnCloseSocket(void* user, curl_socket_t socket) {
    static_cast<FinishedConnections*>(user)->Add(socket);
    return 0;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (bytes > MaxResponseHeaders - transfer->headerBlock.size()) {
        transfer->headersTooLarge = true;
        return 0;
    }
    transfer->headerBlock.append(data, bytes);
    return bytes;
}

// Whether the last header section received has ended (with its empty line).
bool HeaderSectionComplete(const std::string& headerBlock) {
    const std::size_t size = headerBlock.size();
    return (size >= 2 && headerBlock.compare(size - 2, 2, "\n\n") == 0) ||
           (size >= 4 && headerBlock.compare(size - 4, 4, "\r\n\r\n") == 0);
}

WebhookTiming ReadTiming(CURL* curl) {
    auto milliseconds = [curl](CURLINFO info) {
        curl_off_t microseconds = 0;
        curl_easy_getinfo(curl, info, &microseconds);
        return static_cast<double>(microseconds) / 1000.0;
    };
    auto count = [curl](CURLINFO info) {
        curl_off_t bytes = 0;
        curl_easy_getinfo(curl, info, &bytes);
        return bytes > 0 ? static_cast<uint64_t>(bytes) : 0u;
    };
    auto longCount = [curl](CURLINFO info) {
        long bytes = 0;
        curl_easy_getinfo(curl, info, &bytes);
        return bytes > 0 ? static_cast<uint64_t>(bytes) : 0u;
    };
    WebhookTiming timing;
    timing.nameLookupMs = milliseconds(CURLINFO_NAMELOOKUP_TIME_T);
    timing.connectMs = milliseconds(CURLINFO_CONNECT_TIME_T);
    timing.tlsMs = milliseconds(CURLINFO_APPCONNECT_TIME_T);
    timing.firstByteMs = milliseconds(CURLINFO_STARTTRANSFER_TIME_T);
    timing.totalMs = milliseconds(CURLINFO_TOTAL_TIME_T);
    timing.bytesSent = longCount(CURLINFO_REQUEST_SIZE) + count(CURLINFO_SIZE_UPLOAD_T);
    timing.bytesReceived = longCount(CURLINFO_HEADER_SIZE) + count(CURLINFO_SIZE_DOWNLOAD_T);
    return timing;
}

void HeaderLine(const std::string& name, const std::string& value, std::string& line) {
    // "Name;" is libcurl's way to send a header with an empty value; "Name:" would drop it.
    line.assign(name);
    if (value.empty()) {
        line += ';';
    } else {
        line += ": ";
        line += value;
    }
}

} // namespace

UTF8String DbStringFromWebhookErrorCode(int code) {
    switch (code) {
    case ewecInvalidSignature:
        return "INVALID_SIGNATURE";
    case ewecMissingSignature:
        return "MISSING_SIGNATURE";
    case ewecInvalidJson:
        return "INVALID_JSON";
    case ewecMissingContentType:
        return "MISSING_CONTENT_TYPE";
    case ewecInvalidContentType:
        return "INVALID_CONTENT_TYPE";
    case ewecDiscountConflict:
        return "DISCOUNT_CONFLICT";
    case ewecUnknownLine:
        return "UNKNOWN_LINE";
    case ewecDuplicateLine:
        return "DUPLICATE_LINE";
    case ewecExternalPaymentIdMismatch:
        return "EXTERNAL_PAYMENT_ID_MISMATCH";
    default:
        return "ERROR_" + std::to_string(code);
    }
}

std::string CurlCodeToString(short curlCode) {
    return curl_easy_strerror(static_cast<CURLcode>(curlCode));
}

FinishedConnections::FinishedConnections(FinishedConnections&& other) noexcept
    : sockets_(std::move(other.sockets_)) {
    other.sockets_.clear();
}

FinishedConnections& FinishedConnections::operator=(FinishedConnections&& other) noexcept {
    if (this != &other) {
        Close();
        sockets_.swap(other.sockets_);
    }
    return *this;
}

FinishedConnections::~FinishedConnections() {
    Close();
}

void FinishedConnections::Add(int socket) {
    try {
        sockets_.push_back(socket);
    } catch (...) {
        close(socket); // no room to keep it: closed at once, as libcurl would
    }
}

void FinishedConnections::Close() {
    for (const int socket : sockets_)
        close(socket);
    sockets_.clear();
}

WebhookConsumerClient::WebhookConsumerClient(long connectTimeout, long totalTimeout)
    : connectTimeout_(connectTimeout), totalTimeout_(totalTimeout) {
    GlobalInitOnce();
    const CurlPair pair = CurlHandles::Instance().Take();
    curl_ = pair.easy;
    multi_ = pair.multi;
}

WebhookConsumerClient::~WebhookConsumerClient() {
    CurlHandles::Instance().Give(CurlPair{static_cast<CURL*>(curl_), static_cast<CURLM*>(multi_)});
    WriteDeferredTrace();
    if (traceFd_ >= 0) {
        // The file may still hold the trace of an earlier client.
        if (!traceWritten_)
            WriteTrace("No exchange has been made by this client.\n", false);
        TraceSlot slot;
        slot.path = std::move(tracePath_);
        slot.fd = traceFd_;
        slot.size = traceSize_;
        slot.era = traceEra_;
        TraceSlotPool::Instance().Give(std::move(slot)); // its trace stays for the user to read
    }
}

void WebhookConsumerClient::WriteTrace(const std::string& text, bool append) {
    if (traceFd_ < 0)
        return;
    const std::size_t offset = append && traceWritten_ ? traceSize_ : 0;
    const std::size_t size = offset + text.size();
    // Shrinking to a non-zero size is far cheaper than truncating to zero first.
    if (!WriteAll(traceFd_, text, static_cast<off_t>(offset)) ||
        (size < traceSize_ && ftruncate(traceFd_, static_cast<off_t>(size)) != 0)) {
        struct stat info {};
        traceSize_ = fstat(traceFd_, &info) == 0 ? static_cast<std::size_t>(info.st_size) : traceSize_;
        return;
    }
    traceSize_ = size;
    traceWritten_ = true;
}

void WebhookConsumerClient::StoreTrace(std::string text, bool append) {
    WriteDeferredTrace();
    if (!deferTrace_) {
        WriteTrace(text, append);
        return;
    }
    deferredTrace_ = std::move(text);
    deferredAppend_ = append;
}

void WebhookConsumerClient::WriteDeferredTrace() {
    if (deferredTrace_.empty())
        return;
    WriteTrace(deferredTrace_, deferredAppend_);
    deferredTrace_.clear();
}

void WebhookConsumerClient::Init(const UTF8String& subscriptionId, const UTF8String& secret,
                                 const UTF8String& baseUrl, bool verifyPeer) {
    subscriptionId_ = subscriptionId;
    signingKey_ = std::make_unique<OrvCrypt::HmacSha256Key>(OrvCrypt::Base64decode(secret));
    baseUrl_ = baseUrl;
    verifyPeer_ = verifyPeer;
    if (traceFd_ < 0) {
        TraceSlot slot;
        if (TraceSlotPool::Instance().Take(slot)) {
            traceFd_ = slot.fd;
            traceSize_ = slot.size;
            traceEra_ = slot.era;
            debugFile = slot.path;
            tracePath_ = std::move(slot.path);
        }
    }
    // The file is written by the first exchange (or, without one, when the client goes):
    // one write per press.
}

std::string WebhookConsumerClient::sign(const std::string& body) const {
    // Before Init the key is empty, as the secret then is.
    if (!signingKey_)
        signingKey_ = std::make_unique<OrvCrypt::HmacSha256Key>(std::string());
    return signingKey_->SignBase64(body);
}

WebhookResult WebhookConsumerClient::startSession(const StartSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::scanCode(const ScanCodeEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::addSessionLine(const AddSessionLineEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::updateSessionLine(const UpdateSessionLineEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::removeSessionLine(const RemoveSessionLineEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::pauseSession(const PauseSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::resumeSession(const ResumeSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::startPayment(const StartPaymentEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::cancelPayment(const CancelPaymentEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::mergeSession(const MergeSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::cancelSession(const CancelSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::completeSession(const CompleteSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::creditSession(const CreditSessionEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::startExternalPayment(const StartExternalPaymentEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::pollExternalPayment(const PollExternalPaymentEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult
WebhookConsumerClient::requestCancelExternalPayment(const RequestCancelExternalPaymentEvent& event) {
    return send(EventNameOf(event), event);
}
WebhookResult WebhookConsumerClient::cancelExternalPayment(const CancelExternalPaymentEvent& event) {
    return send(EventNameOf(event), event);
}

WebhookResult WebhookConsumerClient::sendError(const std::string& eventName, const ErrorEvent& event) {
    // The report names the event whose answer was wrong inside its body. The event it carries
    // knows its own name (a background poll stays a poll even when the window has sent another
    // event meanwhile); only a report without an event takes the caller's name.
    if (event.event)
        return send(ErrorEventName, event);
    Json::Value json;
    event.buildJson(json);
    json["eventName"] = eventName;
    return send(ErrorEventName, ToJSONString(json));
}

void WebhookConsumerClient::Cancel() {
    cancelled_ = true;
    // The multi handle lives as long as the client, which the caller holds.
    if (multi_)
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

WebhookResult WebhookConsumerClient::send(const std::string& eventName, const WebhookEvent& event) {
    return send(eventName, RequestBody(event));
}

WebhookResult WebhookConsumerClient::send(const std::string& eventName, std::string body) {
    // An error report follows the exchange it reports on; its trace is added to that one, so
    // the debug file shows both the wrong answer and the report.
    lastBody_ = std::move(body);
    lastHeaders_.clear();
    lastHeaders_["Accept"] = "application/json";
    lastHeaders_["Content-Type"] = "application/json";
    lastHeaders_["User-Agent"] = UserAgent;
    lastHeaders_["X-Orvel-Event"] = eventName;
    lastHeaders_["X-Orvel-Signature"] = sign(lastBody_);
    lastHeaders_["X-Orvel-Subscription-Id"] = subscriptionId_;
    return Transmit(baseUrl_ + eventName, eventName == ErrorEventName);
}

WebhookResult WebhookConsumerClient::resend(const std::string& url,
                                            const std::map<std::string, std::string>& headers,
                                            const std::string& body) {
    lastBody_ = body;
    lastHeaders_ = headers;
    return Transmit(url, false);
}

WebhookResult WebhookConsumerClient::Transmit(const std::string& url, bool appendTrace) {
    WebhookResult result;
    // What the trace and the window show; only a URL without a password is ever sent.
    result.url = UrlWithoutPassword(url);

    // Built in one buffer: the trace is on every press's path.
    std::string trace;
    trace.reserve(2048 + 2 * std::min(lastBody_.size(), TraceBodyLimit));
    if (appendTrace)
        trace += "\n=============== Error report ===============\n";
    trace += "Time: ";
    trace += orvlib::NowIso8601();
    trace += "\nURL: ";
    trace += result.url;
    trace += "\n\n--- Request ---\nPOST ";
    trace += result.url;
    trace += '\n';
    for (const auto& header : lastHeaders_) {
        trace += header.first;
        trace += ": ";
        trace += header.second;
        trace += '\n';
    }
    trace += '\n';
    AppendBody(trace, lastBody_);
    trace += '\n';

    auto fail = [&](CURLcode code, const std::string& text) {
        result.curlCode = static_cast<short>(code);
        result.errorText = text;
        result.endedByClient = true;
        trace += "--- Not sent ---\nCURL code " + std::to_string(code) + ": " + text + "\n";
        StoreTrace(std::move(trace), appendTrace);
        return result;
    };

    if (cancelled_)
        return fail(CURLE_ABORTED_BY_CALLBACK, "The exchange was cancelled; nothing was sent.");
    // The whole address is held to what a base URL must be: a resent one comes from a history
    // file, not from this client's checked base URL.
    const std::string urlProblem = BaseUrlProblem(url);
    if (!urlProblem.empty())
        return fail(CURLE_URL_MALFORMAT, urlProblem + " Nothing was sent.");
    // A line break in a header value would let the subscription id (or an edited history) inject
    // headers or a second request; nothing goes out.
    for (const auto& header : lastHeaders_) {
        if (!HasControlCharacter(header.first) && !HasControlCharacter(header.second) &&
            !header.first.empty())
            continue;
        return fail(
            CURLE_BAD_FUNCTION_ARGUMENT,
            header.first == "X-Orvel-Subscription-Id"
                ? "The subscription id holds a control character (such as a line break); nothing was sent."
                : "The header " + header.first + " holds a control character; nothing was sent.");
    }
    if (lastBody_.size() > MAX_REQUEST_BODY)
        return fail(CURLE_FILESIZE_EXCEEDED, "The request body is larger than " +
                                                 std::to_string(MAX_REQUEST_BODY) +
                                                 " bytes; nothing was sent.");
    CURL* curl = static_cast<CURL*>(curl_);
    if (!curl)
        return fail(CURLE_FAILED_INIT, "The transport could not be initialised; nothing was sent.");

    curl_slist* headers = nullptr;
    bool headersBuilt = true;
    std::string line;
    for (const auto& header : lastHeaders_) {
        HeaderLine(header.first, header.second, line);
        curl_slist* extended = curl_slist_append(headers, line.c_str());
        if (!extended) {
            headersBuilt = false;
            break;
        }
        headers = extended;
    }
    // libcurl would otherwise ask large bodies for "100-continue" first.
    if (headersBuilt) {
        curl_slist* extended = curl_slist_append(headers, "Expect:");
        headersBuilt = extended != nullptr;
        if (extended)
            headers = extended;
    }
    if (!headersBuilt) {
        curl_slist_free_all(headers);
        return fail(CURLE_OUT_OF_MEMORY, "Out of memory; nothing was sent.");
    }

    Transfer transfer;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // A second exchange of this client (an error report) must not inherit the first one's
    // options; a handle from CurlHandles has been reset already.
    if (curlUsed_)
        curl_easy_reset(curl);
    curlUsed_ = true;
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Whatever a used handle could remember, it behaves like a fresh one: a connection of its
    // own for each exchange, the name looked up anew, no TLS session resumed.
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, lastBody_.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(lastBody_.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout_);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeout_);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verifyPeer_ ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verifyPeer_ ? 2L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MAX_RESPONSE_BODY));
    // An answer without a status line is taken in and then refused below as unreadable; libcurl
    // would refuse it as an "unsupported protocol", which points the user at the URL instead.
    curl_easy_setopt(curl, CURLOPT_HTTP09_ALLOWED, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    // A connection left open by this client's exchange before goes before this one opens its own.
    finished_.Close();
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, &finished_);

    bool cancelledInFlight = false;
    const CURLcode code = Perform(static_cast<CURLM*>(multi_), curl, cancelled_, cancelledInFlight);
    result.timing = ReadTiming(curl);
    // The handle must not keep pointers to this call's locals, nor close anything into this client.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, nullptr);
    curl_slist_free_all(headers);
    if (!deferCloses_)
        finished_.Close();

    result.curlCode = static_cast<short>(code);
    if (code != CURLE_OK) {
        // An exchange that did not complete has no answer: the window shows the transport error,
        // never a status whose body was cut off. An answer too large is shown under the code
        // libcurl gives it itself (a body announced too large, headers beyond its own limit),
        // not as a failure of the tester to store or allocate.
        if (cancelledInFlight) {
            result.endedByClient = true;
            result.errorText = "The exchange was cancelled before the consumer's answer came in.";
        } else if (transfer.bodyTooLarge) {
            result.curlCode = static_cast<short>(CURLE_FILESIZE_EXCEEDED);
            result.errorText = "The response body is larger than " + std::to_string(MAX_RESPONSE_BODY) +
                               " bytes; the exchange was ended.";
        } else if (transfer.headersTooLarge) {
            result.curlCode = static_cast<short>(CURLE_RECV_ERROR);
            result.errorText = "The response headers are larger than " + std::to_string(MaxResponseHeaders) +
                               " bytes; the exchange was ended.";
        } else if (code == CURLE_OUT_OF_MEMORY && !HeaderSectionComplete(transfer.headerBlock)) {
            // How libcurl refuses a single header line beyond its limit.
            result.curlCode = static_cast<short>(CURLE_RECV_ERROR);
            result.errorText = "A response header line is too long to be read; the exchange was ended.";
        } else if (errorBuffer[0] != '\0') {
            result.errorText = errorBuffer;
        } else {
            result.errorText = curl_easy_strerror(code);
        }
    }

    trace += "--- Response ---\n";
    trace += transfer.headerBlock;
    if (!transfer.headerBlock.empty() && transfer.headerBlock.back() != '\n')
        trace += "\n";
    AppendBody(trace, transfer.body);

    if (code == CURLE_OK && !result.response.Parse(transfer.headerBlock, std::move(transfer.body))) {
        // Never let an unreadable answer pass for no exchange at all.
        result.curlCode = static_cast<short>(CURLE_WEIRD_SERVER_REPLY);
        result.errorText = "The answer has no readable HTTP status line.";
    }
    if (result.curlCode != CURLE_OK)
        trace += "\n--- Transport error ---\nCURL code " + std::to_string(result.curlCode) + ": " +
                 CurlCodeToString(result.curlCode) + "\n" + result.errorText + "\n";
    StoreTrace(std::move(trace), appendTrace);
    return result;
}

} // namespace Webhooks
} // namespace Tarn
