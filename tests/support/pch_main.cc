// The program that makes the test programs' shared precompiled header.
int main() {}
