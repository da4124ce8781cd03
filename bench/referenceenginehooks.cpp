// The engine additions' hooks as the reference server needs them: it writes
// no engine log worth rolling over, so the roll-over hook does nothing.
#include <cstdint>

extern "C" void tolvane_roll_error_log(const char* /*path*/) {}
// It sets no connection limits.
extern "C" int tolvane_client_connection_admit(const void* /*ctx*/, const char* /*address*/,
                                               intptr_t /*sock*/, void (*)(intptr_t)) {
    return 1;
}
extern "C" void tolvane_client_connection_release(const void* /*ctx*/, const char* /*address*/) {}
extern "C" int tolvane_request_head_timeout_ms(const void* /*ctx*/) {
    return 0;
}
extern "C" void tolvane_waiting_restart(const void* /*ctx*/, intptr_t /*sock*/) {}
extern "C" void tolvane_waiting_forget(const void* /*ctx*/, intptr_t /*sock*/) {}
extern "C" void tolvane_address_proven(const void* /*ctx*/, const char* /*address*/) {}
extern "C" int tolvane_waiting_ms_left(const void* /*ctx*/, intptr_t /*sock*/) {
    return -1;
}
