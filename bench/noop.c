/* A static program that does nothing: the least a call can cost, linked with glibc and with
 * musl, for the per-call figures. */
int main(void) { return 0; }
