// The kernel functions every set provides, declared inside that set's namespace (kernels::scalar,
// kernels::avx2, ...): included once per set, so it has no include guard. A function added here
// and to KernelSet reaches every set's declarations and its table entry (KERNEL_SET_ENTRY).
Advanced advance_common(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
size_t find_visible(const uint8_t* p, size_t n);
Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);
size_t first_mismatch(const uint8_t* a, const uint8_t* b, size_t n);
size_t survey(Survey& s, const uint8_t* p, size_t n, uint64_t visible_limit);
LineCount count_lines(const uint8_t* p, size_t n);
