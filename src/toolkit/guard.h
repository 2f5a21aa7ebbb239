#pragma once

#include <QObject>

#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

// Exceptions never unwind through Qt: every handler the program connects
// (menu items, buttons, grid and edit events, hooks) runs inside runGuarded,
// which shows the error box for the program's errors and for any other
// exception, shows nothing for a silent abort, and returns normally.
namespace toolkit {

// Runs the handler; an exception leaving it is shown as the event loop shows
// it (see showCurrentException). Whatever the handler did before it failed
// stays done.
void runGuarded(const std::function<void()> &handler) noexcept;

// To be called inside a catch block: shows the exception being handled in the
// error box with its message (with the full-stop rule), nothing for a silent
// abort, a generic text for an exception that is not a std::exception.
void showCurrentException() noexcept;

// The text shown for an exception that carries no message of its own.
QString unknownExceptionText();

namespace detail {

template <typename F, typename Tuple, std::size_t... I>
constexpr bool invocableWith(std::index_sequence<I...>)
{
    return std::is_invocable_v<F &, std::tuple_element_t<I, Tuple>...>;
}

template <typename F, typename Tuple, std::size_t... I>
void invokeWith(F &f, Tuple &args, std::index_sequence<I...>)
{
    std::invoke(f, std::get<I>(args)...);
}

// Calls f with as many of the signal's leading arguments as it takes, as Qt
// does for an ordinary slot.
template <std::size_t Count, typename F, typename Tuple>
void invokeLeading(F &f, Tuple &args)
{
    if constexpr (invocableWith<F, Tuple>(std::make_index_sequence<Count>{})) {
        invokeWith(f, args, std::make_index_sequence<Count>{});
    } else {
        static_assert(Count > 0, "the handler cannot be called with the signal's arguments");
        if constexpr (Count > 0)
            invokeLeading<Count - 1>(f, args);
    }
}

} // namespace detail

// QObject::connect for a functor (lambda, function object) whose call runs
// guarded. The context ends the connection when it is destroyed, as in Qt.
template <typename Sender, typename Signal, typename Functor>
    requires(!std::is_member_function_pointer_v<std::decay_t<Functor>>)
QMetaObject::Connection connectGuarded(const Sender *sender, Signal signal, const QObject *context,
                                       Functor &&functor,
                                       Qt::ConnectionType type = Qt::AutoConnection)
{
    // The explicit return type keeps Qt from instantiating the body while it
    // works out how many arguments the wrapper takes.
    auto guarded = [f = std::forward<Functor>(functor)](auto &&...args) mutable -> void {
        auto tuple = std::forward_as_tuple(args...);
        runGuarded([&] { detail::invokeLeading<sizeof...(args)>(f, tuple); });
    };
    return QObject::connect(sender, signal, context, std::move(guarded), type);
}

// The same for a member function of the receiver (`&TForm1::N8Click`).
template <typename Sender, typename Signal, typename Receiver, typename Method>
    requires std::is_member_function_pointer_v<Method>
QMetaObject::Connection connectGuarded(const Sender *sender, Signal signal, Receiver *receiver,
                                       Method method,
                                       Qt::ConnectionType type = Qt::AutoConnection)
{
    auto bound = [receiver, method](auto &&...args)
        -> decltype(std::invoke(method, receiver, std::forward<decltype(args)>(args)...)) {
        return std::invoke(method, receiver, std::forward<decltype(args)>(args)...);
    };
    return connectGuarded(sender, signal, static_cast<const QObject *>(receiver),
                          std::move(bound), type);
}

} // namespace toolkit
