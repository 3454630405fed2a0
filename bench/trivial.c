/* The floor of the benchmark: a program that does nothing and exits. */
int main(void)
{
    return 0;
}
