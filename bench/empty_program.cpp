// A program that does nothing: the start-up benchmark's floor.
int main() { return 0; }
