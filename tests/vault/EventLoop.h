// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractEventDispatcher>
#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace tallowin::test {

/// Runs the event loop until `done` holds or `limit` passed (a guard against hangs, not a
/// timing check). `done` is tested whenever the loop falls idle, and every few milliseconds
/// for state that other threads change. Returns `done()`.
inline bool processEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    QTimer wakeUp;
    wakeUp.start(std::chrono::milliseconds(5));
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, [&] {
                         if (done()) {
                             loop.quit();
                         }
                     });
    guard.start(limit);
    // Events handled after the quit can make `done` false again (work that starts more
    // work): then the loop goes on until it holds or the guard fires.
    while (!done() && !timedOut) {
        loop.exec();
    }
    return done();
}

namespace detail {
template <typename T> struct TaskOutcome {
    bool done = false;
    std::exception_ptr error;
    std::optional<T> value;
};
template <> struct TaskOutcome<void> {
    bool done = false;
    std::exception_ptr error;
};

template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
        } else {
            outcome->value.emplace(co_await task);
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}
} // namespace detail

/// Runs `task` to its end on the event loop and gives its result or rethrows its error.
template <typename T> T run(QCoro::Task<T> task) {
    auto outcome = std::make_shared<detail::TaskOutcome<T>>();
    detail::capture(std::move(task), outcome);
    if (!processEventsUntil([&] { return outcome->done; })) {
        throw std::runtime_error("the task did not finish");
    }
    if (outcome->error) {
        std::rethrow_exception(outcome->error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*outcome->value);
    }
}

} // namespace tallowin::test
