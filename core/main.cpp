// Gateway control daemon entry point.
int main()
{
    return 0;
}
