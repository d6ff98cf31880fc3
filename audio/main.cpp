// sondrel: the system-audio sidecar.
int main() { return 3; }
