#pragma once
// The status window: one non-modal window with a one-line message, shown around long
// work. There is never more than one; ShowStatus creates it on first use and
// HideStatus destroys it.
#include <QWidget>

#include <string>

class QLabel;

namespace pellux {

class TFormStatus : public QWidget {
    Q_OBJECT
public:
    static void ShowStatus(const std::string &Caption, const std::string &Text);
    static void HideStatus();
    // The window while it exists, else nullptr.
    static TFormStatus *Current();

    void SetStatusText(const std::string &Text);

    QLabel *LabelStatus;

protected:
    void showEvent(QShowEvent *event) override;

private:
    TFormStatus();
    void WaitForFrame();
    void FitOuterSize();
};

// Keeps the status window up for a scope of long work, also when the work fails.
class ScopedStatus {
public:
    ScopedStatus(const std::string &Caption, const std::string &Text) { TFormStatus::ShowStatus(Caption, Text); }
    ~ScopedStatus() { TFormStatus::HideStatus(); }
    ScopedStatus(const ScopedStatus &) = delete;
    ScopedStatus &operator=(const ScopedStatus &) = delete;
};

} // namespace pellux
