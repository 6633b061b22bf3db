// STUB
int main() { return 1; }
