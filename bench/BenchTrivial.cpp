// The smallest console program: starts and ends at once. Its start-to-end time is the
// floor of any design that starts a process per key press.
int wmain()
{
    return 0;
}
