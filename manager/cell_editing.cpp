// The shared rules of in-place editing.

#include "manager/cell_editing.h"

#include "manager/commands.h"

#include <algorithm>
#include <utility>

CellEditResult cellEditResult(int row, int column, int endKey, std::optional<std::string> text)
{
    CellEditResult result{row, column, std::nullopt, endKey};
    if (endKey != END_KEY_ESCAPE)
        result.text = std::move(text);
    return result;
}

int nextEditColumn(int column)
{
    if (column < 0 || column >= SERVICE_COLUMNS)
        return -1;
    int next = column == COLUMN_NAME ? COLUMN_TCPIP : column + 1;
    return next < SERVICE_COLUMNS ? next : -1;
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
