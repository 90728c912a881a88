#pragma once
// The Help window (one modeless page at most) and the About box.

#include <QDialog>

class QTextEdit;

class CHelpDialog : public QDialog {
    Q_OBJECT
public:
    // Opens the Help window, or brings the open one to the front.
    static void openHelp();
    // Closes the open Help window, if any.
    static void closeHelp();
    // The open Help window, null when none is open.
    static CHelpDialog* helpWindow();

    QTextEdit* textControl() const { return text_; }

private:
    CHelpDialog();
    ~CHelpDialog() override;

    QTextEdit* text_;
};

// The modal About box, owned by `parent`.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent);
};
