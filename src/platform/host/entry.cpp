// Process entry on the host: the stub reads no command line, as on Windows.
int AfxWinMain();

int main() { return AfxWinMain(); }
