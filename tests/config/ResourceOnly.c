int ResourceOnly(void) { return 0; }
