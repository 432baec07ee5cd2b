/*
 * Wiping of key material. A plain memset before a buffer goes out of scope is
 * a dead store the optimiser may drop; writing through a volatile pointer is
 * not.
 */
#ifndef BLUEFIN_SECURE_WIPE_H
#define BLUEFIN_SECURE_WIPE_H

#include <atomic>
#include <cstddef>

namespace vdm::bluefin {

inline void SecureWipe(void *pMemory, std::size_t size) {
  volatile unsigned char *p = static_cast<volatile unsigned char *>(pMemory);
  for (std::size_t i = 0; i < size; ++i) {
    p[i] = 0;
  }
  // Keep the compiler from moving the stores past whatever follows.
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

template <typename T>
inline void SecureWipe(T &object) {
  SecureWipe(&object, sizeof(object));
}

}  // namespace vdm::bluefin

#endif  // BLUEFIN_SECURE_WIPE_H
