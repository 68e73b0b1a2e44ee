#pragma once

#include "HTTPResponseParser.h"
#include "OrvCrypt.h"
#include "ResponseRecords.h"

#include <boost/optional.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Tarn {
namespace Webhooks {

constexpr long SHORT_TIMEOUT = 5; // seconds to connect
constexpr long LONG_TIMEOUT = 60; // seconds for the whole exchange

// Largest answer body accepted; a larger one ends the exchange with a transport error.
constexpr std::size_t MAX_RESPONSE_BODY = 16u * 1024u * 1024u;
// Largest request body sent; a larger one is refused before anything goes out.
constexpr std::size_t MAX_REQUEST_BODY = MAX_RESPONSE_BODY;

// Error codes reported to the consumer.
enum e_WebhookErrorCode {
    ewecInvalidSignature = 0,
    ewecMissingSignature = 1,
    ewecInvalidJson = 2,
    ewecMissingContentType = 5,
    ewecInvalidContentType = 6,
    ewecDiscountConflict = 9,
    ewecUnknownLine = 10,
    ewecDuplicateLine = 11,
    ewecExternalPaymentIdMismatch = 21,
};

UTF8String DbStringFromWebhookErrorCode(int code);

// libcurl's text for a transport result code.
std::string CurlCodeToString(short curlCode);

// How long the parts of one exchange took, in milliseconds from its start (libcurl's reading:
// each figure includes the ones before it; tls is 0 without TLS), and the bytes that crossed.
struct WebhookTiming {
    double nameLookupMs = 0;
    double connectMs = 0;
    double tlsMs = 0;
    double firstByteMs = 0;
    double totalMs = 0;
    uint64_t bytesSent = 0;     // request line, headers and body
    uint64_t bytesReceived = 0; // response headers and body
};

// What one send returns.
struct WebhookResult {
    OrvCurl::HTTPResponseParser response;
    short curlCode = 0;    // the transport's result code, 0 when the exchange completed
    std::string url;       // where the request went
    std::string errorText; // the transport's detailed error text, if any
    // The client ended the exchange itself: it refused to send (an unusable base URL or
    // subscription id, a body too large) or it was cancelled. errorText then says why in plain
    // words; curlCode stays a transport error, so the exchange counts as one.
    bool endedByClient = false;
    boost::optional<DialogResp> dialog; // not read by the tester
    WebhookTiming timing;               // zero when nothing was sent
};

// The connections exchanges are done with, closed when this goes or by Close.
class FinishedConnections {
public:
    FinishedConnections() = default;
    FinishedConnections(FinishedConnections&& other) noexcept;
    FinishedConnections& operator=(FinishedConnections&& other) noexcept;
    FinishedConnections(const FinishedConnections&) = delete;
    FinishedConnections& operator=(const FinishedConnections&) = delete;
    ~FinishedConnections();

    void Add(int socket);
    void Close();

private:
    std::vector<int> sockets_;
};

// One HTTP exchange with the consumer per call. Not shared between threads.
class WebhookConsumerClient {
public:
    // The time-outs are in seconds; the tester always uses the defaults.
    explicit WebhookConsumerClient(long connectTimeout = SHORT_TIMEOUT, long totalTimeout = LONG_TIMEOUT);
    ~WebhookConsumerClient();
    WebhookConsumerClient(const WebhookConsumerClient&) = delete;
    WebhookConsumerClient& operator=(const WebhookConsumerClient&) = delete;

    // baseUrl starts with a scheme and ends in "/". verifyPeer is false exactly when the
    // consumer's certificate is self-signed.
    void Init(const UTF8String& subscriptionId, const UTF8String& secret, const UTF8String& baseUrl,
              bool verifyPeer);

    WebhookResult startSession(const StartSessionEvent& event);
    WebhookResult scanCode(const ScanCodeEvent& event);
    WebhookResult addSessionLine(const AddSessionLineEvent& event);
    WebhookResult updateSessionLine(const UpdateSessionLineEvent& event);
    WebhookResult removeSessionLine(const RemoveSessionLineEvent& event);
    WebhookResult pauseSession(const PauseSessionEvent& event);
    WebhookResult resumeSession(const ResumeSessionEvent& event);
    WebhookResult startPayment(const StartPaymentEvent& event);
    WebhookResult cancelPayment(const CancelPaymentEvent& event);
    WebhookResult mergeSession(const MergeSessionEvent& event);
    WebhookResult cancelSession(const CancelSessionEvent& event);
    WebhookResult completeSession(const CompleteSessionEvent& event);
    WebhookResult creditSession(const CreditSessionEvent& event);
    WebhookResult startExternalPayment(const StartExternalPaymentEvent& event);
    WebhookResult pollExternalPayment(const PollExternalPaymentEvent& event);
    WebhookResult requestCancelExternalPayment(const RequestCancelExternalPaymentEvent& event);
    WebhookResult cancelExternalPayment(const CancelExternalPaymentEvent& event);

    // Reports to the consumer that its answer to eventName was wrong.
    WebhookResult sendError(const std::string& eventName, const ErrorEvent& event);

    // Ends the exchange in flight at once, and every later one before it starts; it returns as
    // a transport error. The one call that may come from another thread than the exchange's.
    void Cancel();
    bool IsCancelled() const { return cancelled_; }
    // Sends body with exactly these headers (the signature among them) to url again: a
    // duplicate delivery of a request sent before. Nothing is signed or added anew.
    WebhookResult resend(const std::string& url, const std::map<std::string, std::string>& headers,
                         const std::string& body);

    // Body and headers of the last request sent.
    const std::string& GetBody() const { return lastBody_; }
    const std::map<std::string, std::string>& GetHeaders() const { return lastHeaders_; }

    // The signature a correct consumer puts on body: Base64(HMAC-SHA256(Base64decode(secret), body)).
    std::string sign(const std::string& body) const;

    // The trace of this client's last exchange; set by Init.
    UTF8String debugFile;
    // From now on an exchange's trace goes into debugFile when the client goes (or just before the
    // trace of its next exchange), not before the call returns: for a caller that hands the answer
    // on at once and lets the client go later, off its way.
    void DeferTraceWrites() { deferTrace_ = true; }
    // From now on an exchange leaves the connection it is done with open, for the caller to take
    // with TakeFinishedConnections and close off its way (closing one costs about as much as a
    // small request); the next exchange and the client's end close what is left.
    void DeferConnectionCloses() { deferCloses_ = true; }
    FinishedConnections TakeFinishedConnections() { return std::move(finished_); }

private:
    WebhookResult send(const std::string& eventName, const WebhookEvent& event);
    WebhookResult send(const std::string& eventName, std::string body);
    // Puts lastBody_ with lastHeaders_ on the wire to url; an error report's trace is added to
    // the one before.
    WebhookResult Transmit(const std::string& url, bool appendTrace);
    void WriteTrace(const std::string& text, bool append);
    // WriteTrace now, or when the deferred trace is due.
    void StoreTrace(std::string text, bool append);
    void WriteDeferredTrace();

    long connectTimeout_;
    long totalTimeout_;
    UTF8String subscriptionId_;
    // The decoded secret, prepared for signing; set by Init.
    mutable std::unique_ptr<OrvCrypt::HmacSha256Key> signingKey_;
    UTF8String baseUrl_;
    bool verifyPeer_ = true;
    std::string lastBody_;
    std::map<std::string, std::string> lastHeaders_;
    void* curl_ = nullptr;  // CURL*, one easy handle per client
    void* multi_ = nullptr; // CURLM*, which runs its transfers so that Cancel can end them
    std::atomic<bool> cancelled_{false};
    bool curlUsed_ = false;
    int traceFd_ = -1; // debugFile, open and locked while this client lives
    std::size_t traceSize_ = 0;
    std::string tracePath_;     // debugFile as opened
    uint64_t traceEra_ = 0;     // which debug folder it belongs to, as the process's file pool counts
    bool traceWritten_ = false; // this client's own trace is in the file
    bool deferTrace_ = false;
    std::string deferredTrace_; // waiting for WriteDeferredTrace
    bool deferredAppend_ = false;
    bool deferCloses_ = false;
    FinishedConnections finished_; // libcurl closes its connections into this
};

} // namespace Webhooks
} // namespace Tarn
