#pragma once

#include "models/AppError.h"
#include "models/UserText.h"

// Thrown when the user cancelled an operation, so callers can tell it apart
// from a failure.
class CancelledError : public AppError {
public:
    CancelledError() : AppError(UserText::cancelled()) {}
};
