/* A stream against the comparison of two buffers, on the same bytes in memory: the output handed
 * over in 64 KiB chunks, the answer a buffer. Prints the medians, in seconds, of the buffers'
 * comparison, the stream's, and the stream's counting its places, timed in turns.
 *   stream_cost OUTPUT ANSWER ROUNDS */
#include <filterspace/filterspace.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

enum { chunk = 64 << 10, most_rounds = 64 };

static char* read_whole(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL || fseek(file, 0, SEEK_END) != 0) return NULL;
    *size = (size_t)ftell(file);
    rewind(file);
    char* bytes = malloc(*size + 1);
    if (bytes == NULL || fread(bytes, 1, *size, file) != *size) return NULL;
    fclose(file);
    return bytes;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int by_value(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof *values, by_value);
    return values[count / 2];
}

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    size_t out_size, ans_size;
    const char* out = read_whole(argv[1], &out_size);
    const char* ans = read_whole(argv[2], &ans_size);
    int rounds = atoi(argv[3]);
    if (rounds > most_rounds) rounds = most_rounds;
    filterspace_state* state = filterspace_state_new();
    if (out == NULL || ans == NULL || state == NULL || rounds < 1) return 2;
    double buffers[most_rounds], streamed[most_rounds], placed[most_rounds];
    int agree = 1;
    /* A first round untimed: the processor is probed once, the pages come into the caches. */
    for (int round = -1; round < rounds; ++round) {
        double start = now();
        const filterspace_result want = filterspace_compare_buffers(state, out, out_size, ans, ans_size, NULL);
        if (round >= 0) buffers[round] = now() - start;
        for (int places = 0; places < 2; ++places) {
            start = now();
            filterspace_stream_begin_buffer(state, ans, ans_size, places ? FILTERSPACE_STREAM_PLACES : 0);
            for (size_t at = 0; at < out_size; at += chunk)
                filterspace_stream_feed(state, out + at, out_size - at < chunk ? out_size - at : chunk);
            filterspace_places where;
            agree &= filterspace_stream_finish(state, &where) == want;
            if (round >= 0) (places ? placed : streamed)[round] = now() - start;
        }
    }
    printf("%.6f %.6f %.6f\n", median(buffers, rounds), median(streamed, rounds), median(placed, rounds));
    filterspace_state_free(state);
    return agree ? 0 : 1;
}
