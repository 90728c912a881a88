#pragma once
// The in-place editors of the service list: a line editor for free text and
// a drop-down for fixed choices. Each opens over one cell, ends when it
// loses the keyboard focus, reports its result to the list and then frees
// itself.

#include "manager/cell_editing.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

#include <string>
#include <vector>

class ServiceListView;

inline constexpr int IDC_CELL_TEXT_EDITOR = 1009;
inline constexpr int IDC_CELL_CHOICE_EDITOR = 1010;

// What the list needs of any open editor: to end it now.
class CellEditor {
public:
    virtual ~CellEditor() = default;
    // Ends the edit at once, as a loss of focus would; does nothing once
    // the editor has ended.
    virtual void finish() = 0;
    virtual bool ended() const = 0;
    virtual int endKey() const = 0;
};

class CellTextEditor : public QLineEdit, public CellEditor {
    Q_OBJECT
public:
    CellTextEditor(ServiceListView& list, const QRect& rect, int row, int column,
                   const QString& text, Qt::Alignment alignment);

    void finish() override;
    bool ended() const override { return ended_; }
    int endKey() const override { return endKey_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void endWith(int key);
    void growToText();

    QPointer<ServiceListView> list_;
    int row_;
    int column_;
    int endKey_ = END_KEY_NONE;
    bool ended_ = false;
};

class CellChoiceEditor : public QComboBox, public CellEditor {
    Q_OBJECT
public:
    CellChoiceEditor(ServiceListView& list, const QRect& rect, int row, int column,
                     const std::vector<std::string>& choices, int current);

    void finish() override;
    bool ended() const override { return ended_; }
    int endKey() const override { return endKey_; }
    // The choice that ending now would commit; -1 for none.
    int highlighted() const { return highlighted_; }

    // Drops the list down with the current choice highlighted.
    void dropDown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void endWith(int key);
    void endAfterPopup();

    QPointer<ServiceListView> list_;
    int row_;
    int column_;
    std::vector<std::string> choices_; // as they were when the editor opened
    int highlighted_;
    int endKey_ = END_KEY_NONE;
    bool ended_ = false;
};
