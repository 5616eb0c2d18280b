def Shots():
    return []
