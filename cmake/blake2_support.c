/* The one function the BLAKE2b reference code takes from the rest of its
   library: wiping a state that held the key. A volatile pointer keeps the
   compiler from dropping the stores as dead. */
#include <stddef.h>

void clear_internal_memory(void *v, size_t n) {
  volatile unsigned char *p = (volatile unsigned char *)v;
  while (n-- > 0) *p++ = 0;
}
