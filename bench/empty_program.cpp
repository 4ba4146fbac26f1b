// A program that does nothing: the start-up benchmark's floors (bare, and
// linked against the host's shared libraries).
int main() { return 0; }
