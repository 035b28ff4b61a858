// Leak-checker settings for the client tests.
//
// A SerialQueue posts the deletion of its context object and stops its thread right after; when the
// thread is still finishing a pass of posted work at that moment, the loop stops before it gets to
// the deletion and the small context object is left behind. Each WEXClient ends with such a queue,
// so the client tests would see that leak at random. Only allocations made by the queue itself are
// excused here; anything the client allocates is still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:dovrel::SerialQueue::SerialQueue\n"
           "leak:dovrel::SerialQueue::~SerialQueue\n";
}
