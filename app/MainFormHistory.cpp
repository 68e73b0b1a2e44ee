// The History tab: every exchange of this and earlier runs, found by its event, status or text,
// looked at whole, sent again as it was, copied as a curl command.

#include "Exception.h"
#include "MainFormUnit.h"

#include "OrvLib.h"

#include <boost/make_shared.hpp>

#include <stdexcept>

using namespace Tarn::Webhooks;

std::string TForm1::HistoryFilePath() const {
    return orvlib::JoinPath(orvlib::GetUserLocalAppDataPath(), "history.jsonl");
}

void TForm1::LoadHistory() {
    std::string path;
    try {
        path = HistoryFilePath();
        const HistoryLoad loaded = history_.Load(path);
        if (loaded.damaged > 0)
            mmMessages.Add("History: " + std::to_string(loaded.damaged) + " damaged line" +
                           (loaded.damaged == 1 ? " was" : "s were") + " skipped in " + path + ".");
        historyFile_.Open(path, loaded.lines, loaded.bytes);
    } catch (const std::runtime_error& error) {
        // The tester goes on without a history file; this run's entries stay in the window.
        historyFailureTold_->store(true);
        mmMessages.Add(std::string(error.what()) + " The history of this run is not kept.");
    }
    ShowHistoryEntries();
}

void TForm1::FlushHistory() {
    historyFile_.Flush();
}

void TForm1::AddToHistory(const ExchangeRecord& record) {
    auto kept = std::make_shared<const ExchangeRecord>(record);
    auto entry = std::make_shared<const HistoryEntry>(kept);
    historyFile_.Append(std::move(kept));
    if (const History::EntryPtr dropped = history_.Add(entry)) {
        if (!shownHistory_.empty() && shownHistory_.back() == dropped) {
            shownHistory_.pop_back();
            lvHistory.DeleteItem(static_cast<int>(shownHistory_.size()));
        }
    }
    if (entry->Matches(historyFilter_)) {
        shownHistory_.push_front(entry);
        lvHistory.InsertItem(0, entry->Row(toolkit.DecimalSeparator()));
    }
    btnHistoryClear.SetEnabled(true);
}

void TForm1::ShowHistoryEntries() {
    const std::vector<History::EntryPtr> shown = history_.Filter(historyFilter_);
    shownHistory_.assign(shown.begin(), shown.end());
    const char separator = toolkit.DecimalSeparator();
    std::vector<std::vector<std::string>> rows;
    rows.reserve(shown.size());
    for (const History::EntryPtr& entry : shown)
        rows.push_back(entry->Row(separator));
    lvHistory.SetItems(std::move(rows));
    btnHistoryClear.SetEnabled(!history_.Entries().empty());
    ShowHistoryEntry();
}

void TForm1::edtHistoryFilterChange() {
    std::string filter = edtHistoryFilter.Text();
    for (char& c : filter)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (filter == historyFilter_)
        return;
    historyFilter_ = std::move(filter);
    ShowHistoryEntries();
}

void TForm1::lvHistorySelectItem() {
    ShowHistoryEntry();
}

std::shared_ptr<const ExchangeRecord> TForm1::ChosenHistoryRecord() const {
    const int index = lvHistory.ItemIndex();
    if (index < 0 || index >= static_cast<int>(shownHistory_.size()))
        return nullptr;
    return shownHistory_[static_cast<std::size_t>(index)]->Record();
}

void TForm1::ShowHistoryEntry() {
    const bool chosen = lvHistory.ItemIndex() >= 0;
    const std::shared_ptr<const ExchangeRecord> record = ChosenHistoryRecord();
    for (TButton* button : {&btnHistoryResend, &btnHistoryCopyCurl, &btnHistoryCopyResponse})
        button->SetEnabled(record != nullptr);
    if (!record) {
        mmHistoryRequest.SetText(chosen ? "This entry of the history file cannot be read." : "");
        mmHistoryResponse.Clear();
        lvHistoryChecks.Clear();
        return;
    }
    mmHistoryRequest.SetText(RawRequest(*record));
    mmHistoryResponse.SetText(RawResponse(*record));
    std::vector<std::vector<std::string>> rows = CheckRows(*record, toolkit.DecimalSeparator());
    rows.push_back({"Verdict", "", record->verdict});
    lvHistoryChecks.SetItems(std::move(rows));
}

void TForm1::btnHistoryResendClick() {
    const std::shared_ptr<const ExchangeRecord> original = ChosenHistoryRecord();
    if (!original)
        throw Exception("Please choose an entry of the history first.");
    ResetExchangeDisplay();
    txtWebhookUrl.SetText(original->url);
    mmMessages.Clear();
    SetSendControlsEnabled(false);
    try {
        // The answer is checked with this window's secret; the request keeps its own signature.
        ClientPtr client = clientFactory ? clientFactory() : boost::make_shared<WebhookConsumerClient>();
        client->Init(edtSubscriptionId.Text(), edtSecret.Text(), NormalizedBaseUrl(), !original->selfSigned);
        txtDebugFile.SetText(client->debugFile);
        WebhookResult result;
        AnswerDigest digest;
        RunExchange(client, [&] {
            result = client->resend(original->url, original->requestHeaders, original->requestBody);
            digest = DigestAnswer(*client, result);
        });
        ShowRequest(client, false);
        // An error report sent again is named for itself, not for the event it reported on.
        const std::string name = original->kind == ExchangeKind::ErrorReport ? "error" : original->eventName;
        ExchangeRecord& record =
            BeginExchange(client, result, ExchangeKind::Resend, name, original->eventCounter);
        record.selfSigned = original->selfSigned;
        // A duplicate delivery is looked at, not answered: no error report goes back, and
        // nothing of the answer reaches the session.
        boost::optional<Json::Value> ignored;
        CheckAnswer(record, result, std::move(digest), ignored, nullptr);
    } catch (...) {
        SetSendControlsEnabled(true);
        PublishExchanges();
        throw;
    }
    SetSendControlsEnabled(true);
    PublishExchanges();
}

void TForm1::btnHistoryCopyCurlClick() {
    if (const std::shared_ptr<const ExchangeRecord> record = ChosenHistoryRecord())
        toolkit.SetClipboardText(CurlCommand(*record));
}

void TForm1::btnHistoryCopyResponseClick() {
    if (const std::shared_ptr<const ExchangeRecord> record = ChosenHistoryRecord())
        toolkit.SetClipboardText(RawResponse(*record));
}

void TForm1::btnHistoryClearClick() {
    if (!toolkit.AskYesNo("Empty the history? Every entry of this and earlier runs is deleted."))
        return;
    history_.Clear();
    historyFile_.Clear();
    ShowHistoryEntries();
}
