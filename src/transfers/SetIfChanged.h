#pragma once

#include <QObject>
#include <type_traits>
#include <utility>

// Sets a property's field and emits its change signal, only when the value really changes: views
// and bindings hear of a change once, never of a value set again.
template <typename Object, typename T>
void setIfChanged(Object* object, T& field, std::type_identity_t<T> value, void (Object::*changed)()) {
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(object->*changed)();
}
