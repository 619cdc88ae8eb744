#pragma once
// Follows long work of the archive component in the status window. The libraries run
// on the GUI thread inside the component's call; their progress reports are the only
// moments the program gets back. TBusyProgress uses them to keep the windows painted
// and the desktop answered, shows a bar and a Cancel button once the work has run
// long enough to be worth it, and keeps input away from every other window meanwhile,
// so that nothing starts a second operation from inside the first.
#include "zip/ZipEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <utility>
#include <vector>

namespace pellux {

class TFormStatus;

class TBusyProgress : public QObject {
    Q_OBJECT
public:
    // Follows Engine's OnProgress (a handler bound before keeps being called) in the
    // status window shown at the time, if any. Everything is undone on destruction.
    explicit TBusyProgress(TZipEngine &Engine);
    ~TBusyProgress() override;
    TBusyProgress(const TBusyProgress &) = delete;
    TBusyProgress &operator=(const TBusyProgress &) = delete;

    // The bar and the Cancel button have been shown.
    bool Revealed() const { return revealed_; }
    // The bytes the progress steps have reported so far.
    std::uint64_t BytesDone() const { return done_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Progress(ProgressType Type, std::int32_t Size);
    void Reveal();
    bool Blocked(QObject *receiver, const QEvent *event) const;

    TZipEngine &engine_;
    TProgressEvent previous_;
    QPointer<TFormStatus> status_;
    // The windows that were there when the work began: they take no input until it ends.
    std::vector<QPointer<QWidget>> blocked_;
    QElapsedTimer started_;
    QElapsedTimer sincePump_;
    std::uint64_t done_ = 0;
    bool revealed_ = false;
};

// A busy guard that also follows the work: `Guard` shows the status window first,
// the progress ends before it, so the bar never outlives the window.
template <class Guard>
class WithBusyProgress : public Guard {
public:
    template <class... Args>
    explicit WithBusyProgress(TZipEngine &Engine, Args &&...args) : Guard(std::forward<Args>(args)...), Progress(Engine)
    {
    }
    TBusyProgress Progress;
};

} // namespace pellux
