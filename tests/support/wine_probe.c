/* Does nothing, quickly: ./build.sh test starts it once under Wine to learn
   whether this machine runs this build's programs at all. A kernel without
   32-bit code refuses Wine's 32-bit loader before this is reached. */
int main(void)
{
    return 0;
}
