#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include <QObject>
#include <QPointer>
#include <QString>

#include "Platform/MainQueue.h"
#include "Platform/Task.h"
#include "Platform/Unicode.h"

namespace corvane {

// The text a user sees for a failure of a core call: the error's description.
inline QString errorText(const std::exception& error)
{
    return QString::fromStdString(Unicode::validUTF8(error.what()));
}

// Runs `call`, a blocking core call (a request of the APIClient), as a background task, never on
// the main thread, and hands the outcome to the main thread: `onSuccess` with the call's result
// (nothing for a call without one), or `onFailure` with the error's text. Nothing is handed on
// when `context` is gone by then (the view that asked has closed). Main thread only.
template <typename Call, typename Success, typename Failure>
void runInBackground(QObject* context, Call call, Success onSuccess, Failure onFailure)
{
    using Result = std::invoke_result_t<Call>;
    MainQueue::assertMainThread("runInBackground");
    Task::detached([guard = QPointer<QObject>(context), call = std::move(call),
                    onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)]() mutable {
        auto deliver = [&guard](auto report) {
            MainQueue::async([guard = std::move(guard), report = std::move(report)]() mutable {
                if (guard) {
                    report();
                }
            });
        };
        try {
            if constexpr (std::is_void_v<Result>) {
                call();
                deliver([onSuccess = std::move(onSuccess)]() mutable { onSuccess(); });
            } else {
                auto result = std::make_shared<Result>(call());
                deliver([onSuccess = std::move(onSuccess), result]() mutable {
                    onSuccess(std::move(*result));
                });
            }
        } catch (const std::exception& error) {
            deliver([onFailure = std::move(onFailure), text = errorText(error)]() mutable {
                onFailure(text);
            });
        }
    });
}

}  // namespace corvane
