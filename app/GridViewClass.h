#pragma once

#include "TGridControl.h"
#include "UTF8String.h"

#include <string>
#include <string_view>

namespace Tarn {

// Column kinds of a grid view.
enum e_VeldType { evtTekst = 0, evtInteger = 1 };

// Drives a TGridControl: one item (column) per field, rows filled one at a time. Item handles
// are the column indices of the grid.
class GridViewClass {
public:
    void Init(TGridControl* grid, const UTF8String& viewName);
    const UTF8String& ViewName() const { return viewName_; }

    void SetDoOpslaanKolomIndeling(bool store) { storeColumnLayout_ = store; }
    void SetDoInlezenOpslaanViewConfig(bool loadAndStore) { loadStoreViewConfig_ = loadAndStore; }

    int AddItem(const UTF8String& name, int kind, int width, bool visible);
    void SetItemEdit(int item, bool editable);
    void SetItemAutoBreedteMinMax(int item, int minWidth, int maxWidth);
    void SetEdit(bool editing, bool autoAppend);

    void ClearGrid();
    void BeginUpdate();
    void EndUpdate();
    void NieuweRij();
    void AddValue(int item, int value);
    void AddValue(int item, std::string_view text);

    int GetEersteRij() const;
    int GetAantalRijen() const;
    bool GetCellValue(int item, int row, std::string& text) const;
    void SetCellValue(int item, int row, std::string_view text);

    // Index of the line in the selected row (negative when none), or in the given grid row.
    int GetRijIndex() const;
    int GetRijIndex(int row) const;

    void ShowEditor();
    void HideEditor();

private:
    TGridControl* grid_ = nullptr;
    UTF8String viewName_;
    bool storeColumnLayout_ = true;
    bool loadStoreViewConfig_ = true;
    int currentRow_ = -1;
};

} // namespace Tarn
