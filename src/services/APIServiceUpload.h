#pragma once

#include "models/OutgoingResult.h"
#include "net/CancelToken.h"
#include "services/ServerConnection.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace APIService {

// What an upload is doing when it is not simply sending, for its progress line.
enum class UploadState {
    Sending,
    WaitingForNetwork, // a request failed for a network reason; it tries again until it gets through
    StartingOver,      // the server forgot the upload while it waited: a new token, from the first chunk
};

inline constexpr qint64 uploadChunkSize = 5'242'880;
inline constexpr int maxChunksInFlight = 4;

// Sends one local file as a new outgoing transfer: an upload token, the file
// in chunks of uploadChunkSize (at most maxChunksInFlight requests at once,
// three attempts each), then the completion. A request that fails for a
// network reason waits and tries again (HttpEngine::WaitLimits) under the
// same token, sending only chunks the server has not confirmed; when the
// server no longer knows the token afterwards, the upload starts over once.
// `stateHandler` hears of waiting and starting over. `progressHandler` gets
// (fraction done, bytes per second) on the main thread after each confirmed
// chunk. An empty password counts as none.
//
// Throws APIError, PlatformError for file-system and transport failures, or
// CancelledError once `cancel` fired: its in-flight requests are aborted at
// once and no completion is sent.
QCoro::Task<OutgoingResult> uploadOutgoing(ServerConnection server, QString filePath,
                                           std::optional<QString> password, bool generatePassword,
                                           std::function<void(double, double)> progressHandler,
                                           QPointer<CancelToken> cancel = nullptr,
                                           std::function<void(UploadState)> stateHandler = {});

} // namespace APIService
