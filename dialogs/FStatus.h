#pragma once
// The status window: one non-modal window with a one-line message, shown around long
// work. There is never more than one; ShowStatus creates it on first use and
// HideStatus destroys it.
#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pellux {

class TFormStatus : public QWidget {
    Q_OBJECT
public:
    static void ShowStatus(const std::string &Caption, const std::string &Text);
    static void HideStatus();
    // The window while it exists, else nullptr.
    static TFormStatus *Current();

    void SetStatusText(const std::string &Text);
    // The bar and the Cancel button below the label, hidden until work that follows
    // them has run a while (see TBusyProgress).
    void ShowProgress(bool Visible);
    // Done of Total bytes; a Total of 0 shows a bar that only says the work goes on.
    void SetProgress(std::uint64_t Done, std::uint64_t Total);

    QLabel *LabelStatus;
    QProgressBar *ProgressBarStatus;
    QPushButton *ButtonCancel;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    TFormStatus();
    void WaitForFrame();
    void FitOuterSize();
    void PlaceProgress();
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
