#pragma once

#include "models/ErrorText.h"
#include "models/Logging.h"

#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <utility>

// Runs a started task that nobody awaits. When it finishes and `context` still exists, `then` gets
// its result (nothing for a void task). Whatever the task throws ends here: logged under
// zanvolt.transfers, never across the event loop. Operations report their own failures to the user.
template <typename T, typename Then> void detach(QCoro::Task<T> task, QObject* context, Then then) {
    [](QCoro::Task<T> task, QPointer<QObject> context, Then then) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                if (context)
                    then();
            } else {
                T result = co_await std::move(task);
                if (context)
                    then(std::move(result));
            }
        } catch (const std::exception& error) {
            qCWarning(lcTransfers) << "background task failed:" << describeError(error).text;
        } catch (...) {
            qCWarning(lcTransfers) << "background task failed";
        }
    }(std::move(task), QPointer<QObject>(context), std::move(then));
}

template <typename T> void detach(QCoro::Task<T> task, QObject* context) {
    if constexpr (std::is_void_v<T>)
        detach(std::move(task), context, [] {});
    else
        detach(std::move(task), context, [](T) {});
}
