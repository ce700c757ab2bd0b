// Precompiles the tests' common header; the program itself does nothing.
int main() { return 0; }
