def Pages():
    return []
