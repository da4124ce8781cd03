// The engine additions' hooks as the reference server needs them: it writes
// no engine log worth rolling over, so the roll-over hook does nothing.
extern "C" void tolvane_roll_error_log(const char* /*path*/) {}
