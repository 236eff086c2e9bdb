/* The least any user-space converter of SPE samples to FITS must do: write a 2880-byte
 * header, then read 4 MiB of samples, swap their bytes in place, write them; pad to 2880.
 * copy-loop IN OUT SAMPLE-BYTES (1, 2 or 4). The benchmark's yardstick, not a converter. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kBuffer = 4 << 20, kBlock = 2880, kSpeHeader = 4100 };

static void Swap(unsigned char* p, size_t n, int size) {
    for (size_t i = 0; size == 2 && i + 1 < n; i += 2) {
        unsigned char t = p[i];
        p[i] = p[i + 1];
        p[i + 1] = t;
    }
    for (size_t i = 0; size == 4 && i + 3 < n; i += 4) {
        unsigned int v;
        memcpy(&v, p + i, 4);
        v = __builtin_bswap32(v);
        memcpy(p + i, &v, 4);
    }
}

int main(int argc, char** argv) {
    static _Alignas(4096) unsigned char buffer[kBuffer]; /* page-aligned: the fastest copy */
    if (argc != 4) return fprintf(stderr, "usage: copy-loop IN OUT SAMPLE-BYTES\n"), 2;
    int in = open(argv[1], O_RDONLY), out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int size = atoi(argv[3]);
    if (in < 0 || out < 0 || lseek(in, kSpeHeader, SEEK_SET) != kSpeHeader)
        return perror("open"), 1;
    memset(buffer, ' ', kBlock);
    long long written = write(out, buffer, kBlock);
    ssize_t n;
    while ((n = read(in, buffer, kBuffer)) > 0) {
        Swap(buffer, (size_t)n, size);
        if (write(out, buffer, (size_t)n) != n) return perror("write"), 1;
        written += n;
    }
    memset(buffer, 0, kBlock);
    if (written % kBlock && write(out, buffer, (size_t)(kBlock - written % kBlock)) < 0) return 1;
    return n < 0 || close(out) != 0 ? 1 : 0;
}
