// Shared helpers of the test programs live in this library.
