// Placeholder entry until the front end lands.
int main() { return 0; }
