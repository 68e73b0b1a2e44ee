// The session editor: the session model of the window shown in gridSession, the row buttons,
// reading typed cells back into the model, and the line totals that go out with every event.

#include "MainFormUnit.h"

#include "OrvLib.h"
#include "Uuid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using OrvelUtility::Uuid;
using Tarn::Webhooks::ExternalDiscount;
using Tarn::Webhooks::Session;
using Tarn::Webhooks::SessionLine;

namespace {

const char* const kNoSessionIdPrompt = "Please click Generate to start a new Session ID.";

// Positions in session.lines of the lines the grid shows, in row order: ShowSession skips lines
// without a lineId, so data row k shows the k-th line that has one.
std::vector<std::size_t> ShownLines(const Session& session) {
    std::vector<std::size_t> shown;
    shown.reserve(session.lines.size());
    for (std::size_t i = 0; i < session.lines.size(); ++i)
        if (session.lines[i].lineId)
            shown.push_back(i);
    return shown;
}

// The model index of the line shown at display position k, or -1 when no line is shown there.
int LineAt(const std::vector<std::size_t>& shown, int k) {
    if (k < 0 || static_cast<std::size_t>(k) >= shown.size())
        return -1;
    return static_cast<int>(shown[static_cast<std::size_t>(k)]);
}

// Integer cells: text that is not a signed decimal integer gives the default.
int64_t ParseInt64(const std::string& text, int64_t def) {
    int64_t value = 0;
    return orvlib::TryParseInt64(text, value) ? value : def;
}

int32_t ParseInt32(const std::string& text, int32_t def) {
    int32_t value = 0;
    return orvlib::TryParseInt32(text, value) ? value : def;
}

// A decimal cell: empty or not a number gives nothing; anything else is kept to 2 decimals.
boost::optional<double> ParseDecimal(std::string_view text) {
    double value = 0.0;
    if (text.empty() || !orvlib::StrToDbl(text, value))
        return boost::none;
    return rondaf(value, 2);
}

void SetArticleNumber(SessionLine& line, const std::string& text) {
    const int64_t number = ParseInt64(text, 0);
    line.articleNumber = number > 0 ? boost::optional<int64_t>(number) : boost::none;
}

// Empty clears the field.
boost::optional<UTF8String> NonEmpty(const std::string& text) {
    if (text.empty())
        return boost::none;
    return text;
}

} // namespace

void TForm1::SetUpSessionGrid() {
    if (items.number >= 0)
        return; // already bound: a second showing must not add the columns again

    gridView->Init(&gridSession, productName);
    gridView->SetDoOpslaanKolomIndeling(false);
    gridView->SetDoInlezenOpslaanViewConfig(false);

    items.number = gridView->AddItem("#", Tarn::evtInteger, 2, true);
    items.lineId = gridView->AddItem("lineId", Tarn::evtTekst, 30, true);
    items.lineSetId = gridView->AddItem("lineSetId", Tarn::evtTekst, 30, true);
    items.articleNumber = gridView->AddItem("articleNumber", Tarn::evtTekst, 15, true);
    items.text = gridView->AddItem("text", Tarn::evtTekst, 20, true);
    items.quantity = gridView->AddItem("quantity", Tarn::evtTekst, 15, true);
    items.priceIncl = gridView->AddItem("priceIncl", Tarn::evtTekst, 15, true);
    items.vatCode = gridView->AddItem("vatCode", Tarn::evtTekst, 2, true);
    items.vatPercentage = gridView->AddItem("vatPercentage", Tarn::evtTekst, 10, true);
    items.discountPercentage = gridView->AddItem("discountPercentage", Tarn::evtTekst, 15, true);
    items.discountAmount = gridView->AddItem("discountAmount", Tarn::evtTekst, 15, true);
    items.supplierArticleNumber = gridView->AddItem("supplierArticleNumber", Tarn::evtTekst, 10, true);
    items.pluNumber = gridView->AddItem("pluNumber", Tarn::evtTekst, 10, true);
    items.extArticleId = gridView->AddItem("extArticleId", Tarn::evtTekst, 10, true);
    items.extDiscountId = gridView->AddItem("externalDiscount.discountId", Tarn::evtTekst, 15, true);
    items.extDiscountPercentage =
        gridView->AddItem("externalDiscount.discountPercentage", Tarn::evtTekst, 15, true);
    items.extDiscountAmount = gridView->AddItem("externalDiscount.discountAmount", Tarn::evtTekst, 15, true);
    items.extDiscountDescription =
        gridView->AddItem("externalDiscount.discountDescription", Tarn::evtTekst, 15, true);
    items.total = gridView->AddItem("Total", Tarn::evtTekst, 15, true);

    for (int item : {items.articleNumber, items.text, items.quantity, items.priceIncl, items.vatCode,
                     items.vatPercentage, items.discountPercentage, items.discountAmount,
                     items.supplierArticleNumber, items.pluNumber, items.extArticleId})
        gridView->SetItemEdit(item, true);

    gridView->SetItemAutoBreedteMinMax(items.lineId, 15, 20);
    gridView->SetItemAutoBreedteMinMax(items.lineSetId, 15, 20);
    gridView->SetItemAutoBreedteMinMax(items.text, 20, 40);

    gridView->SetEdit(true, false);
}

std::string TForm1::FormatNumber(double value) const {
    return orvlib::FormatDouble(value, toolkit.DecimalSeparator());
}

void TForm1::ShowSession() {
    edtSessionId.SetText(session.sessionId.IsNull() ? std::string(kNoSessionIdPrompt)
                                                    : session.sessionId.ToFormattedString());

    // One repaint for the whole refill.
    gridView->BeginUpdate();
    gridView->ClearGrid();
    auto number = [this](int item, const boost::optional<double>& value) {
        if (value)
            gridView->AddValue(item, FormatNumber(*value));
    };
    int n = 1;
    for (const SessionLine& line : session.lines) {
        if (!line.lineId)
            continue;
        gridView->NieuweRij();
        gridView->AddValue(items.number, n++);
        gridView->AddValue(items.lineId, line.lineId->ToFormattedString());
        if (line.lineSetId)
            gridView->AddValue(items.lineSetId, line.lineSetId->ToFormattedString());
        if (line.articleNumber)
            gridView->AddValue(items.articleNumber, std::to_string(*line.articleNumber));
        gridView->AddValue(items.text, line.text);
        number(items.quantity, line.quantity);
        number(items.priceIncl, line.priceIncl);
        if (line.vatCode)
            gridView->AddValue(items.vatCode, std::to_string(*line.vatCode));
        number(items.vatPercentage, line.vatPercentage);
        number(items.discountPercentage, line.discountPercentage);
        number(items.discountAmount, line.discountAmount);
        gridView->AddValue(items.supplierArticleNumber, line.supplierArticleNumber.value_or(""));
        gridView->AddValue(items.pluNumber, line.pluNumber.value_or(""));
        gridView->AddValue(items.extArticleId, line.extArticleId.value_or(""));
        if (line.externalDiscount) {
            const ExternalDiscount& discount = *line.externalDiscount;
            gridView->AddValue(items.extDiscountId, discount.discountId.ToFormattedString());
            number(items.extDiscountPercentage, discount.discountPercentage);
            number(items.extDiscountAmount, discount.discountAmount);
            gridView->AddValue(items.extDiscountDescription, discount.discountDescription);
        }
        number(items.total, LineTotal(line));
    }
    gridView->EndUpdate();
}

void TForm1::btnStartSessionClick() {
    session.sessionId = Uuid::Create();
    ShowSession();
}

void TForm1::spdRegelToevoegenClick() {
    SessionLine line;
    line.lineId = Uuid::Create();
    session.lines.push_back(line);
    ShowSession();
}

void TForm1::spdRegelVerwijderenClick() {
    const int i = SelectedLineIndex();
    if (i < 0 || static_cast<std::size_t>(i) >= session.lines.size())
        return;
    session.lines.erase(session.lines.begin() + i);
    ShowSession();
}

int TForm1::SelectedLineIndex() const {
    const int k = gridView->GetRijIndex();
    if (k < 0)
        return k;
    return LineAt(ShownLines(session), k);
}

bool TForm1::ReadSessionFromGrid() {
    try {
        session.sessionId = Uuid(edtSessionId.Text());
    } catch (...) {
        // Let the developer see which field is wrong before the error is shown.
        PageControl1.SetActivePage(TabSheetSession);
        edtSessionId.SetFocus();
        throw;
    }

    auto cell = [&](int item, int row) {
        std::string text;
        gridView->GetCellValue(item, row, text);
        return text;
    };

    // Row k shows the k-th line that has a lineId.
    std::vector<SessionLine>& lines = session.lines;
    std::size_t next = 0;
    const int first = gridView->GetEersteRij();
    const int rows = gridView->GetAantalRijen();
    for (int r = first; r < rows; ++r) {
        while (next < lines.size() && !lines[next].lineId)
            ++next;
        if (next == lines.size())
            break; // more rows than shown lines: nothing to take them into
        SessionLine& line = lines[next++];

        SetArticleNumber(line, cell(items.articleNumber, r));
        line.text = cell(items.text, r);
        line.quantity = ParseDecimal(cell(items.quantity, r));
        line.priceIncl = ParseDecimal(cell(items.priceIncl, r));
        const int32_t vatCode = ParseInt32(cell(items.vatCode, r), 2);
        line.vatCode = vatCode < 0 ? 2 : vatCode;
        line.vatPercentage = ParseDecimal(cell(items.vatPercentage, r)).value_or(21.0);
        line.discountPercentage = ParseDecimal(cell(items.discountPercentage, r));
        line.discountAmount = ParseDecimal(cell(items.discountAmount, r));
        line.supplierArticleNumber = NonEmpty(cell(items.supplierArticleNumber, r));
        line.pluNumber = NonEmpty(cell(items.pluNumber, r));
        line.extArticleId = NonEmpty(cell(items.extArticleId, r));

        // A discount in the grid is a new one: its discountSetId is null again.
        const Uuid discountId(cell(items.extDiscountId, r));
        if (!discountId.IsNull()) {
            ExternalDiscount discount;
            discount.discountId = discountId;
            discount.discountPercentage = ParseDecimal(cell(items.extDiscountPercentage, r));
            discount.discountAmount = ParseDecimal(cell(items.extDiscountAmount, r));
            discount.discountDescription = cell(items.extDiscountDescription, r);
            line.externalDiscount = std::move(discount);
        }
    }
    return true;
}

void TForm1::gridSessionEditCellExit(TControl* /*sender*/, int column, int row, bool flag) {
    if (!flag)
        return;
    ReadSessionFromGrid();

    const int i = LineAt(ShownLines(session), gridView->GetRijIndex(row));
    if (i < 0)
        return;
    SessionLine& line = session.lines[static_cast<std::size_t>(i)];

    const bool decimalColumn = column == items.quantity || column == items.priceIncl ||
                               column == items.vatPercentage || column == items.discountPercentage ||
                               column == items.discountAmount;
    if (column != items.articleNumber && column != items.vatCode && !decimalColumn)
        return;

    std::string text;
    gridView->GetCellValue(column, row, text);

    if (column == items.articleNumber) {
        SetArticleNumber(line, text);
    } else if (column == items.vatCode) {
        const int32_t vatCode = ParseInt32(text, 2);
        line.vatCode = (vatCode < 0 || vatCode > 5) ? 2 : vatCode;
    } else {
        for (char& c : text)
            if (c == '.')
                c = ',';
        const boost::optional<double> value = ParseDecimal(text);
        if (column == items.quantity)
            line.quantity = value;
        else if (column == items.priceIncl)
            line.priceIncl = value;
        else if (column == items.vatPercentage)
            line.vatPercentage = value ? *value : 21.0;
        else if (column == items.discountPercentage)
            line.discountPercentage = value;
        else
            line.discountAmount = value;
    }

    const boost::optional<double> total = LineTotal(line);
    gridView->SetCellValue(items.total, row, total ? FormatNumber(*total) : std::string());
}

boost::optional<double> TForm1::LineTotal(const SessionLine& line) const {
    if (!line.articleNumber || !line.quantity || !line.priceIncl)
        return boost::none;

    double t = *line.quantity * *line.priceIncl;
    auto applyDiscount = [&t](const boost::optional<double>& percentage,
                              const boost::optional<double>& amount) {
        if (percentage)
            t = (100 - *percentage) * t / 100;
        if (amount)
            t = t - *amount;
    };
    // The line's own discount takes precedence over the consumer's.
    if (line.discountPercentage || line.discountAmount)
        applyDiscount(line.discountPercentage, line.discountAmount);
    else if (line.externalDiscount)
        applyDiscount(line.externalDiscount->discountPercentage, line.externalDiscount->discountAmount);

    return rondaf(t, 2);
}

Session TForm1::CurrentSession() {
    session.totalAmount = 0.0;
    for (SessionLine& line : session.lines) {
        line.totalAmount = LineTotal(line);
        if (line.totalAmount)
            *session.totalAmount += *line.totalAmount;
    }
    return session;
}
