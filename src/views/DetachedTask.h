#pragma once

#include "TransferManager.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <functional>

// Runs a manager operation that nobody waits for, from a click: the manager
// reports its own failures, and nothing may escape a task nobody awaits.
class DetachedTask {
public:
    static void start(QPointer<TransferManager> manager,
                      std::function<QCoro::Task<>(TransferManager&)> operation) {
        [](QPointer<TransferManager> manager,
           std::function<QCoro::Task<>(TransferManager&)> operation) -> QCoro::Task<> {
            try {
                if (manager)
                    co_await operation(*manager);
            } catch (...) {
            }
        }(std::move(manager), std::move(operation));
    }
};
