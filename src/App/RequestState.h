#pragma once

#include <optional>

#include <QString>

namespace corvane {

// The loading flag and the error text of a view that calls the server: a request clears the
// error as it starts, and every end clears the flag, a failure leaving its text. Main thread
// only, as the views that hold it.
struct RequestState {
    bool isLoading = false;
    std::optional<QString> errorMessage;

    void start()
    {
        isLoading = true;
        errorMessage.reset();
    }
    void succeed() { isLoading = false; }
    void fail(const QString& message)
    {
        errorMessage = message;
        isLoading = false;
    }
};

}  // namespace corvane
