// Applying what a consumer asks for in a default answer: external discounts put on or taken
// off lines (splitting and merging them), added lines and deleted lines. A list that
// contradicts the session is refused whole and reported back to the consumer.

#include "MainFormUnit.h"

#include <cstddef>
#include <string>

using namespace Tarn::Webhooks;

namespace {

bool HasLineId(const SessionLine& line, const Uuid& id) {
    return line.lineId && *line.lineId == id;
}

// Index of the first line with the id, or -1.
int FindLine(const std::vector<SessionLine>& lines, const Uuid& id) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (HasLineId(lines[i], id))
            return static_cast<int>(i);
    }
    return -1;
}

bool IsNonZero(const boost::optional<double>& value) {
    return value && *value != 0.0;
}

ExternalDiscount ToExternalDiscount(const ExternalDiscountResp& discount) {
    ExternalDiscount result;
    result.discountId = discount.discountId;
    result.discountPercentage = discount.discountPercentage;
    result.discountAmount = discount.discountAmount;
    result.discountDescription = discount.discountDescription;
    return result;
}

Error Refusal(e_WebhookErrorCode code, const std::string& message) {
    return Error(DbStringFromWebhookErrorCode(code), message);
}

// Merges into the line at target every other line equal to it, once its external discount is
// off: the line takes over the other's id and quantity, and the other goes.
void MergeEqualLines(std::vector<SessionLine>& lines, std::size_t target) {
    if (!lines[target].lineSetId)
        return;
    std::size_t j = 0;
    while (j < lines.size()) {
        SessionLine& line = lines[target];
        const SessionLine& other = lines[j];
        if (j != target && other.lineId != line.lineId && other == line && other.quantity && line.quantity) {
            line.lineId = other.lineId;
            *line.quantity += *other.quantity;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(j));
            if (j < target)
                --target;
            continue;
        }
        ++j;
    }
}

} // namespace

bool TForm1::ApplyDefaultResp(const DefaultResp& response, const ClientPtr& client, const EventPtr& event) {
    Error error;
    if (ApplyLineChanges(response.lineChanges, error) && ApplyLineAdditions(response.lineAdditions, error) &&
        ApplyLineDeletions(response.lineDeletions, error)) {
        NoteExchange("Lines", std::to_string(response.lineChanges.size()) + " changed, " +
                                  std::to_string(response.lineAdditions.size()) + " added, " +
                                  std::to_string(response.lineDeletions.size()) + " deleted");
        return true;
    }
    NoteExchange("Lines", "refused: [" + error.errorCode + "] " + error.message);
    ReportErrorToConsumer(error, client, event);
    return false;
}

bool TForm1::ApplyLineChanges(const std::vector<LineChangeResp>& changes, Error& error) {
    std::vector<SessionLine>& lines = session.lines;
    for (const LineChangeResp& change : changes) {
        const int index = FindLine(lines, change.lineId);
        if (index < 0) {
            error = Refusal(ewecUnknownLine, "Cannot change line with lineID " +
                                                 change.lineId.ToFormattedString() +
                                                 " because this lineID does not existin the session.");
            return false;
        }
        if (!change.externalDiscount)
            continue;
        const SessionLine& line = lines[static_cast<std::size_t>(index)];
        const std::string id = line.lineId->ToFormattedString();
        if (IsNonZero(line.discountPercentage) || IsNonZero(line.discountAmount)) {
            error = Refusal(ewecDiscountConflict, "Cannot apply external discount to lineID " + id +
                                                      " because it already has a discount.");
            return false;
        }
        if (!change.externalDiscount->removeDiscount && line.externalDiscount &&
            line.externalDiscount->discountId != change.externalDiscount->discountId) {
            error = Refusal(ewecDiscountConflict, "Cannot apply external discount to lineID " + id +
                                                      " because it already has another external discount.");
            return false;
        }
    }

    for (const LineChangeResp& change : changes) {
        if (!change.externalDiscount)
            continue;
        const ExternalDiscountResp& discount = *change.externalDiscount;
        const std::size_t index = static_cast<std::size_t>(FindLine(lines, change.lineId));
        SessionLine& line = lines[index];
        if (discount.removeDiscount) {
            line.externalDiscount = boost::none;
            MergeEqualLines(lines, index);
            continue;
        }
        line.externalDiscount = ToExternalDiscount(discount);
        if (discount.quantity && line.quantity && *discount.quantity < *line.quantity) {
            // The discounted part becomes a line of its own at the end; both halves share a new
            // line set, and the line that was split keeps its id and the rest of the quantity.
            SessionLine part = line;
            part.lineId = Uuid::Create();
            part.lineSetId = Uuid::Create();
            part.quantity = *discount.quantity;
            line.lineSetId = part.lineSetId;
            *line.quantity -= *discount.quantity;
            line.externalDiscount = boost::none;
            lines.push_back(part);
        }
    }
    ShowSession();
    return true;
}

bool TForm1::ApplyLineAdditions(const std::vector<LineAdditionResp>& additions, Error& error) {
    std::vector<SessionLine>& lines = session.lines;
    for (const LineAdditionResp& addition : additions) {
        if (!addition.lineId)
            continue;
        for (const SessionLine& line : lines) {
            if (HasLineId(line, *addition.lineId)) {
                error = Refusal(ewecDuplicateLine, "Cannot add line with lineID " +
                                                       line.lineId->ToFormattedString() +
                                                       " because this lineID already exists in the session.");
                return false;
            }
        }
    }

    for (const LineAdditionResp& addition : additions) {
        SessionLine line;
        // A line without a usable id would have no row in the grid.
        line.lineId = addition.lineId && !addition.lineId->IsNull() ? *addition.lineId : Uuid::Create();
        line.articleNumber = addition.articleNumber;
        line.priceIncl = addition.priceIncl;
        line.vatCode = addition.vatCode;
        line.vatPercentage = addition.vatPercentage;
        if (addition.externalDiscount)
            line.externalDiscount = ToExternalDiscount(*addition.externalDiscount);
        if (addition.text)
            line.text = *addition.text;
        lines.push_back(line);
    }
    ShowSession();
    return true;
}

bool TForm1::ApplyLineDeletions(const std::vector<LineDeletionResp>& deletions, Error& error) {
    std::vector<SessionLine>& lines = session.lines;
    for (const LineDeletionResp& deletion : deletions) {
        if (FindLine(lines, deletion.lineId) < 0) {
            error = Refusal(ewecUnknownLine, "Cannot delete line with lineID " +
                                                 deletion.lineId.ToFormattedString() +
                                                 " because this lineID does not exist in the session.");
            return false;
        }
    }

    for (const LineDeletionResp& deletion : deletions) {
        for (auto it = lines.begin(); it != lines.end();) {
            if (HasLineId(*it, deletion.lineId))
                it = lines.erase(it);
            else
                ++it;
        }
    }
    ShowSession();
    return true;
}

void TForm1::ShowResultError(const ErrorResp& response) {
    AddMessages({"Foutcode in resultaat: [" + response.errorCode + "] " + response.message}, false);
}
