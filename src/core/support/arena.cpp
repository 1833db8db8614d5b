#include "support/arena.h"

namespace vardelquin {

void* Arena::allocate_in_new_block(std::size_t bytes, std::size_t alignment) {
  std::size_t size = next_block_size_;
  while (size < bytes + alignment) size *= 2;
  if (next_block_size_ < largest_block) next_block_size_ *= 2;
  void* memory = nullptr;
  if (size == first_block && kept_ != nullptr) {
    memory = std::exchange(kept_, nullptr);
  } else {
    memory = ::operator new(sizeof(Block) + size);
  }
  last_ = ::new (memory) Block{last_, size};
  cursor_ = reinterpret_cast<std::byte*>(last_ + 1);
  end_ = cursor_ + size;
  return allocate_bytes(bytes, alignment);
}

// All blocks but one of the first size, which is kept.
void Arena::free_blocks() noexcept {
  for (Block* block = last_; block != nullptr;) {
    Block* const previous = block->previous;
    if (block->size == first_block && kept_ == nullptr) {
      kept_ = block;
    } else {
      ::operator delete(block);
    }
    block = previous;
  }
  last_ = nullptr;
  cursor_ = end_ = nullptr;
  next_block_size_ = first_block;
}

void Arena::free_all() noexcept {
  clear();
  ::operator delete(std::exchange(kept_, nullptr));
}

}  // namespace vardelquin
