#pragma once
// Every event handler runs inside Guarded(); this connects one that way in a line.
#include "platform/ErrorReport.h"

#include <QObject>

#include <concepts>
#include <functional>

namespace pellux {

// A receiver's handler called under the general error guard. It takes the signal's
// arguments, or as many of the first ones as it names: the signal's connection tries
// the longest list that fits, so clicked(bool) reaches a handler without parameters.
template <class Receiver, class Handler>
struct GuardedHandler {
    Receiver *receiver;
    Handler handler;

    template <class... Args>
    requires std::invocable<const Handler &, Receiver *, Args...>
    void operator()(Args... args) const
    {
        Guarded([&] { std::invoke(handler, receiver, args...); });
    }
};

template <class Sender, class Signal, class Receiver, class Handler>
QMetaObject::Connection ConnectGuarded(Sender *sender, Signal signal, Receiver *receiver, Handler handler)
{
    return QObject::connect(sender, signal, receiver, GuardedHandler<Receiver, Handler>{receiver, handler});
}

} // namespace pellux
