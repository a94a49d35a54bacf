#include <cstdio>
int main() { std::puts("tervalo-cli"); return 0; }
