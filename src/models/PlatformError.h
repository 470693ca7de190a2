#pragma once

#include "models/AppError.h"

// An error of the platform (file system, transport, decoding), passed on with
// its own text, never wrapped in one of the client's error kinds.
class PlatformError : public AppError {
public:
    using AppError::AppError;
};
