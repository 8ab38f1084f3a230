#include <cstdio>

int main() {
    std::puts("cendrow");
    return 0;
}
