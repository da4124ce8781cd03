// The engine additions' hooks as the reference server needs them: it writes
// no engine log worth rolling over, so the roll-over hook does nothing.
extern "C" void tolvane_roll_error_log(const char* /*path*/) {}
// It sets no connection limits.
extern "C" int tolvane_client_connection_admit(const void* /*ctx*/, const char* /*address*/) {
    return 1;
}
extern "C" void tolvane_client_connection_release(const void* /*ctx*/, const char* /*address*/) {}
extern "C" int tolvane_request_head_timeout_ms(const void* /*ctx*/) {
    return 0;
}
