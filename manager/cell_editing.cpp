// The shared rules of in-place editing.

#include "manager/cell_editing.h"

#include "manager/service_settings.h"

#include <algorithm>
#include <utility>

CellEditResult cellEditResult(int row, int column, int endKey, std::optional<std::string> text)
{
    CellEditResult result{row, column, std::nullopt, endKey};
    if (endKey != END_KEY_ESCAPE)
        result.text = std::move(text);
    return result;
}

CellEditResult choiceEditResult(int row, int column, int endKey, const std::vector<std::string>& choices,
                                int highlighted)
{
    std::optional<std::string> chosen;
    if (highlighted >= 0 && static_cast<size_t>(highlighted) < choices.size())
        chosen = choices[static_cast<size_t>(highlighted)];
    return cellEditResult(row, column, endKey, std::move(chosen));
}

int nextEditColumn(int column)
{
    if (column < 0 || column >= SERVICE_COLUMNS)
        return -1;
    for (int next = column + 1; next < SERVICE_COLUMNS; ++next)
        if (serviceSettings[next].editor != SettingEditor::None)
            return next;
    return -1;
}

int cellEditScroll(int cellLeft, int cellRight, int viewLeft, int viewRight)
{
    if (cellLeft < viewLeft)
        return cellLeft - viewLeft;
    if (cellLeft > viewRight)
        return cellLeft;
    if (cellRight > viewRight)
        return std::min(cellRight - viewRight, cellLeft - viewLeft);
    return 0;
}
