#pragma once

#include "models/AppError.h"

#include <QCoroTask>
#include <concepts>
#include <exception>
#include <optional>

// Runs the task to its end in a nested event loop and returns its result or
// rethrows its exception. QCoro 0.8's own waitFor() drops an exception thrown
// after the task's first suspension and then waits forever.
template <typename T> T waitForTask(QCoro::Task<T> task) {
    std::optional<T> result;
    std::exception_ptr error;
    QCoro::waitFor(
        [](QCoro::Task<T> inner, std::optional<T>* result, std::exception_ptr* error) -> QCoro::Task<> {
            try {
                result->emplace(co_await std::move(inner));
            } catch (...) {
                *error = std::current_exception();
            }
        }(std::move(task), &result, &error));
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

inline void waitForTask(QCoro::Task<> task) {
    waitForTask([](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    }(std::move(task)));
}

// The text the user would see for a task that should fail, or "<no error>".
template <typename T> QString failureOf(QCoro::Task<T> task) {
    try {
        waitForTask(std::move(task));
    } catch (const AppError& error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

// The same for a plain call.
template <std::invocable F> QString failureOf(F call) {
    try {
        call();
    } catch (const AppError& error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}
