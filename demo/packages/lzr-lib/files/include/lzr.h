/* lzr 5.4.0 */
#ifndef LZR_H
#define LZR_H
int lzr_compress(const void *in, unsigned long inLength, void *out, unsigned long *outLength, int preset);
int lzr_decompress(const void *in, unsigned long inLength, void *out, unsigned long *outLength);
#endif
