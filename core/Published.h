#pragma once
// How model objects publish their state. Each published field is a Q_PROPERTY with a READ accessor and,
// where a screen or a rule observes it, a NOTIFY signal. Its setter goes through publish(), which stores
// the value and emits the change signal only when the value really changes (a NaN is never equal to
// itself, so writing NaN always emits). Main thread only, like the model objects.
#include <QObject>
#include <utility>

namespace quorvel {

template <typename Owner, typename Field, typename Value>
bool publish(Owner* owner, Field& field, Value&& value, void (Owner::*changed)()) {
    if (field == value) return false;
    field = std::forward<Value>(value);
    emit(owner->*changed)();
    return true;
}

}  // namespace quorvel
