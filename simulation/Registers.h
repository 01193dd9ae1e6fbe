#pragma once

namespace zelmora {

// The widest registers the fast paths may use, where the machine has them: 2 the widest it has,
// 1 a bit count of one word, 0 plain word arithmetic. Every way gives the same results; tests
// lower it to hold the narrower ways, which such a machine would not take, to the same.
void LimitRegisters(int widest);

// The widest way of those the machine has (up to `machine`) that the limit allows.
int AllowedRegisters(int machine);

}  // namespace zelmora
