/* zpack 1.3.1 - deflate compression */
#ifndef ZPACK_H
#define ZPACK_H

#define ZPACK_VERSION "1.3.1"

int zpack_deflate(void *out, unsigned long *outLength, const void *in, unsigned long inLength, int level);
int zpack_inflate(void *out, unsigned long *outLength, const void *in, unsigned long inLength);

#endif
